// A temporary folder that also serves as the registry roots and the lock folder of a test:
// PIPETASK_REGISTRY_HKLM, PIPETASK_REGISTRY_HKCU and XDG_RUNTIME_DIR point into it while the
// object lives, and everything is removed afterwards.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pt::test {

class TempFolder {
public:
    TempFolder() {
        char tmpl[] = "/tmp/pt_test_XXXXXX";
        path_ = mkdtemp(tmpl);
        hklm_ = path_ + "/hklm";
        hkcu_ = path_ + "/hkcu";
        runtime_ = path_ + "/run";
        std::filesystem::create_directories(hklm_);
        std::filesystem::create_directories(hkcu_);
        std::filesystem::create_directories(runtime_);
        Save("PIPETASK_REGISTRY_HKLM", hklm_);
        Save("PIPETASK_REGISTRY_HKCU", hkcu_);
        Save("XDG_RUNTIME_DIR", runtime_);
    }
    ~TempFolder() {
        for (int i = 0; i < 3; ++i) {
            if (had_[i])
                setenv(names_[i], old_[i].c_str(), 1);
            else
                unsetenv(names_[i]);
        }
        std::error_code ec;
        std::filesystem::permissions(hklm_, std::filesystem::perms::all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    const std::string& Hklm() const { return hklm_; }
    const std::string& Hkcu() const { return hkcu_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Write(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

private:
    void Save(const char* name, const std::string& value) {
        int i = count_++;
        names_[i] = name;
        const char* old = std::getenv(name);
        had_[i] = old != nullptr;
        if (old) old_[i] = old;
        setenv(name, value.c_str(), 1);
    }
    std::string path_, hklm_, hkcu_, runtime_;
    const char* names_[3] = {};
    std::string old_[3];
    bool had_[3] = {};
    int count_ = 0;
};

} // namespace pt::test
