// pipetask: the host application of the Pipetask plug-in.
//   pipetask run    runs a script over a stream of packets through libpipetask.so
//   pipetask check  compiles a script and reports the first error with its position
//   pipetask il     prints a script's intermediate form
// Exit codes: 0 success, 1 the script does not compile, 2 usage error, 3 input or output
// failure.
#include "CompileTools.h"
#include "Console.h"
#include "Formats.h"
#include "LineReader.h"
#include "PluginHost.h"
#include "Runner.h"
#include "ScriptConfig.h"
#include "Sources.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace pt::host {
namespace {

enum Exit { kOk = 0, kCompile = 1, kUsage = 2, kIo = 3 };

// A usage error found after parsing (a combination CLI11 cannot express).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void fail(const std::string& msg) {
    Console::err().line("pipetask: " + msg);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw IoError("cannot read " + path + ": " + std::strerror(errno));
    std::stringstream ss;
    ss << in.rdbuf();
    if (in.bad()) throw IoError("cannot read " + path);
    return ss.str();
}

int languageFor(const std::string& path, const std::string& language) {
    if (!language.empty()) {
        auto i = languageIndex(language);
        if (!i)
            throw UsageError("unknown language '" + language +
                             "'; use PascalScript, C++Script, JScript or BasicScript");
        return *i;
    }
    auto i = languageOfFile(path);
    if (!i)
        throw UsageError("cannot tell the language of " + path +
                         " from its extension (.pas, .cpp, .js, .vb); use --language");
    return *i;
}

struct RunArgs {
    std::string script, config, section, language;
    std::string input = "-", format = "jsonl", outputFormat, output = "-", events, reply;
    std::string plugin;
    size_t maxLine = 1 << 20;
    bool stats = false;
    bool quiet = false;
};

// Where events go: standard error through the console (the default), or a file or standard
// output ("-"), written whole per event.
class EventOutput {
public:
    explicit EventOutput(const std::string& location) {
        if (!location.empty()) sink_ = ByteSink::open(location, 1);
    }
    void line(const std::string& text) {
        if (!sink_) {
            Console::err().line(text);
            return;
        }
        std::lock_guard<std::mutex> lock(mu_);
        try {
            sink_->write(text);
            sink_->write("\n", 1);
            sink_->flush();
        } catch (const IoError& e) {
            if (!failed_) Console::err().line(std::string("pipetask: ") + e.what());
            failed_ = true;
        }
    }
    bool failed() const { return failed_; }

private:
    std::mutex mu_;
    std::unique_ptr<ByteSink> sink_;
    bool failed_ = false;
};

int runCommand(const RunArgs& a) {
    auto inFormat = formatFromName(a.format);
    if (!inFormat) throw UsageError("unknown format '" + a.format + "'; use jsonl, csv or raw");
    Format outFormat = *inFormat;
    if (!a.outputFormat.empty()) {
        auto f = formatFromName(a.outputFormat);
        if (!f)
            throw UsageError("unknown output format '" + a.outputFormat +
                             "'; use jsonl, csv or raw");
        outFormat = *f;
    }
    if (a.script.empty() == a.config.empty())
        throw UsageError("give either --script FILE or --config INI");
    if (!a.section.empty() && a.config.empty()) throw UsageError("--section goes with --config");
    if (!a.language.empty() && a.script.empty()) throw UsageError("--language goes with --script");
    if (a.maxLine == 0) throw UsageError("--max-line must be at least 1");

    // The configuration the module loads: a private INI file made from the script, or the
    // user's own.
    std::unique_ptr<TempFile> ini;
    PluginSession::LoadOptions load;
    if (!a.script.empty()) {
        int lang = languageFor(a.script, a.language);
        std::string text = readWholeFile(a.script);
        ini = std::make_unique<TempFile>("pipetask", ".ini", scriptIniText(text, lang, ""));
        load.iniFile = ini->path();
    } else {
        if (access(a.config.c_str(), R_OK) != 0)
            throw IoError("cannot read " + a.config + ": " + std::strerror(errno));
        load.iniFile = a.config;
        load.sectionPrefix = a.section;
    }

    // Everything that can fail for a plain reason (a missing file, a refused connection, a
    // taken port) fails before the plug-in is loaded, with one line.
    std::unique_ptr<ByteSource> src =
        openSource(a.input, [](const std::string& msg) { Console::err().line("info: " + msg); });
    auto out = ByteSink::open(a.output, 1);
    EventOutput events(a.events);
    std::unique_ptr<ReplyFile> replyFile;
    if (!a.reply.empty() && !src->canReply()) replyFile = std::make_unique<ReplyFile>(a.reply);
    if (!a.reply.empty() && src->canReply())
        Console::err().line("warning: --reply is not used: bytes go back to " + src->name());

    PluginLibrary lib(a.plugin.empty() ? PluginLibrary::defaultPath() : a.plugin);

    // The reply target outlives the run loop only until session.close(); the source pointer
    // is cleared before the source goes away.
    std::mutex sourceMu;
    ByteSource* source = src.get();
    auto reply = [&](const void* data, size_t n) {
        std::lock_guard<std::mutex> lock(sourceMu);
        if (source && source->canReply()) return source->reply(data, n);
        if (replyFile) return replyFile->write(data, n);
        return false;
    };
    bool quiet = a.quiet;
    PluginSession session(
        lib, reply,
        [quiet](const std::string& line) {
            if (!quiet || line.rfind("info: ", 0) != 0) Console::err().line(line);
        },
        [&](const std::string& line) { events.line(line); });

    int r = session.load(load);
    if (r != PT_RESULT_OK)
        throw IoError("the plug-in refused LOAD (result " + std::to_string(r) + ")");
    r = session.compile();
    if (r == PT_RESULT_COMPILE_ERROR) {
        session.close();
        fail(
            "the script does not compile" +
            (a.script.empty() ? std::string() : "; 'pipetask check " + a.script + "' shows where"));
        return kCompile;
    }

    src->start();

    LineReader reader(*src, a.maxLine);
    auto parser = makeParser(*inFormat);
    auto writer =
        makeWriter(outFormat, [](const std::string& w) { Console::err().line("warning: " + w); });
    RunSettings settings;
    settings.progress = isatty(2) && src->sizeHint() > (16 << 20);
    Runner runner(reader, *parser, session, *writer, *out, Console::err(),
                  a.input == "-" ? "<stdin>" : a.input, settings);
    runner.setSizeHint(src->sizeHint());
    RunEnd end = runner.run();
    out->flush();
    session.close();
    {
        std::lock_guard<std::mutex> lock(sourceMu);
        source = nullptr;
    }

    if (a.stats) {
        Console::err().line(formatStats(runner.stats()));
        const SessionCounters& c = session.counters();
        Console::err().line("stats: " + std::to_string(c.events.load()) + " events, " +
                            std::to_string(c.errorLines.load()) + " error and " +
                            std::to_string(c.warningLines.load()) + " warning log lines");
    }
    if (end == RunEnd::CompileFailed) {
        fail("the script does not compile");
        return kCompile;
    }
    if (end == RunEnd::Refused) {
        fail("the plug-in refused a packet (result " + std::to_string(runner.lastResult()) + ")");
        return kIo;
    }
    return events.failed() ? kIo : kOk;
}

const char* kRunFooter = R"(
Input formats (--format, default jsonl; output uses the same unless --output-format):
  jsonl  one JSON object per line (one row) or an array of objects (one row each)
  csv    a header line naming the columns, then one row per line
  raw    one row per line, with the single value DATA holding the line

Sources (--input): -  FILE  tcp://HOST:PORT  tcp-listen://HOST:PORT  serial:DEVICE[?baud=N]
Rows go to --output, events to --events (standard error when not given, as JSON objects),
log lines of the plug-in to standard error. Bytes the script sends go back to a TCP or
serial source, else to --reply FILE when given.

Examples:
  pipetask run --script examples/convert.pas --input examples/convert.jsonl
  pipetask run --script filter.pas --input tcp-listen://127.0.0.1:5000 --format raw
  pipetask run --config site.ini --section Probe1 --input serial:/dev/ttyUSB0?baud=115200
)";

} // namespace
} // namespace pt::host

int main(int argc, char** argv) {
    using namespace pt::host;
    std::signal(SIGPIPE, SIG_IGN); // a closed output is reported as a write error

    CLI::App app{"pipetask: runs Pipetask scripts over rows of data packets, through the "
                 "Pipetask plug-in (libpipetask.so)."};
    app.name("pipetask");
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", std::string("pipetask ") + PT_VERSION_TEXT);
    app.footer("Exit codes: 0 success, 1 the script does not compile, 2 usage error, 3 input or "
               "output failure.\nRun 'pipetask COMMAND --help' for the options of a command.");

    RunArgs ra;
    CLI::App* run = app.add_subcommand("run", "Run a script over a stream of packets");
    auto* scriptOpt =
        run->add_option("--script", ra.script,
                        "Script file; the language follows the extension (.pas "
                        "PascalScript, .cpp C++Script, .js JScript, .vb BasicScript)");
    auto* configOpt = run->add_option("--config", ra.config,
                                      "INI file with the plug-in's stored configuration (script "
                                      "and language) instead of --script");
    scriptOpt->excludes(configOpt);
    run->add_option("--section", ra.section, "Section prefix inside the --config file");
    run->add_option("--language", ra.language,
                    "Script language: PascalScript, C++Script, JScript or BasicScript");
    run->add_option("--input", ra.input, "Where packets come from (default: - for standard input)");
    run->add_option("--format", ra.format, "Line format of input and output: jsonl, csv or raw");
    run->add_option("--output-format", ra.outputFormat,
                    "Line format of the output, when it differs");
    run->add_option("--output", ra.output, "Where rows go (default: - for standard output)");
    run->add_option("--events", ra.events,
                    "Where events go (default: standard error; - for standard output)");
    run->add_option("--reply", ra.reply,
                    "File for the bytes the script sends, for file and standard input sources");
    run->add_option("--max-line", ra.maxLine,
                    "Longest input line in bytes; longer lines are reported and skipped "
                    "(default: 1048576)");
    run->add_option("--plugin", ra.plugin,
                    "The plug-in library (default: libpipetask.so next to "
                    "this program)");
    run->add_flag("--stats", ra.stats,
                  "At the end, print packets, rows, errors, time and rows per second");
    run->add_flag("--quiet", ra.quiet, "Leave out the plug-in's information log lines");
    run->footer(kRunFooter);

    std::string checkFile, checkLanguage;
    CLI::App* check = app.add_subcommand(
        "check", "Compile a script and report the first error as FILE:LINE:COL: message");
    check->add_option("FILE", checkFile, "Script file")->required();
    check->add_option("--language", checkLanguage,
                      "Script language when the extension does not tell it");

    std::string ilFile, ilLanguage;
    CLI::App* il = app.add_subcommand("il", "Print the intermediate form (XML) of a script");
    il->add_option("FILE", ilFile, "Script file")->required();
    il->add_option("--language", ilLanguage, "Script language when the extension does not tell it");

    std::string first = argc > 1 ? argv[1] : "";
    if (!first.empty() && first[0] != '-' && first != "run" && first != "check" && first != "il") {
        fail("unknown command '" + first +
             "'; the commands are run, check and il. Run 'pipetask --help' for usage.");
        return kUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string msg = e.what();
        fail(msg + (msg.empty() || msg.back() == '.' ? "" : ".") +
             " Run 'pipetask --help' for usage.");
        return kUsage;
    }

    try {
        if (run->parsed()) return runCommand(ra);
        if (check->parsed()) {
            int lang = languageFor(checkFile, checkLanguage);
            return checkScript(checkFile, readWholeFile(checkFile), lang);
        }
        if (il->parsed()) {
            int lang = languageFor(ilFile, ilLanguage);
            return printIntermediate(ilFile, readWholeFile(ilFile), lang);
        }
    } catch (const UsageError& e) {
        fail(std::string(e.what()) + ". Run 'pipetask --help' for usage.");
        return kUsage;
    } catch (const std::invalid_argument& e) {
        fail(e.what());
        return kUsage;
    } catch (const IoError& e) {
        fail(e.what());
        return kIo;
    } catch (const PluginError& e) {
        fail(e.what());
        return kIo;
    } catch (const std::exception& e) {
        fail(std::string("unexpected failure: ") + e.what());
        return kIo;
    }
    return kUsage;
}
