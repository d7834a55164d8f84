// The program builder: the second stage of compiling a script. It walks the intermediate
// program that TfsILParser::MakeIL produced and turns it into the runtime objects of the
// owner script: declared items (variables, constants, routines with their parameters and
// bodies, array helpers) and statement lists holding expressions and designators. All name
// resolution, type checking and parameter checking happens here; every failure is an
// EScriptError whose message is one of the engine's messages, reported at the position of the
// intermediate element the builder was working on.
//
// The unit also installs the compiler of TfsScript (Compile: select the language, make the
// intermediate form, build) and the late binder of designators (a designator whose member
// could not be resolved at compile time is rebuilt by BuildDesignator on first use).
#pragma once

#include "script/runtime/fs_iexpression.h"
#include "script/runtime/fs_iinterpreter.h"
#include "script/runtime/fs_istatements.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pt {

class TfsILParser;
class TfsParser;
class TfsXMLItem;

class TfsILBuilder {
public:
    // scanner (optional) holds the text parsed last, for the source text of expressions;
    // grammarTypes (optional) is the grammar's `types` element.
    TfsILBuilder(TfsScript& owner, bool needDeclareVars, const TfsParser* scanner = nullptr,
                 const TfsXMLItem* grammarTypes = nullptr);

    // Builds the intermediate program (its `program` root) into the owner script. A build
    // error is stored in the script's ErrorText, ErrorLocation and ErrorUnitName.
    void BuildProgram(TfsXMLItem* root);

    enum class TDesignatorMode { Plain, Creation, Deletion };
    // The designator of a `dsgn` element (owned by the caller).
    TfsDesignator* BuildDesignator(TfsXMLItem* element, TfsScript* script,
                                   TDesignatorMode mode = TDesignatorMode::Plain);

    const std::string& ErrorPosition() const noexcept { return errorPos_; }

private:
    void BuildElement(TfsXMLItem* element, TfsScript* script);
    void DeclareRoutinesIn(TfsXMLItem* element, TfsScript* script);
    void BuildStatement(TfsXMLItem* element, TfsScript* script, TfsStatement* list);
    void BuildChildren(TfsXMLItem* element, TfsScript* script, TfsStatement* list);
    void BuildAssignment(TfsXMLItem* element, TfsScript* script, TfsStatement* list);
    void BuildFor(TfsXMLItem* element, TfsScript* script, TfsStatement* list, bool vb);
    void BuildWith(TfsXMLItem* element, TfsScript* script, TfsStatement* list);
    void BuildUses(TfsXMLItem* element, TfsScript* script);

    void CheckRedeclared(TfsScript* script, const std::string& name);
    void DeclareVariables(TfsXMLItem* element, TfsScript* script, TfsStatement* list);
    void DeclareConstant(TfsXMLItem* element, TfsScript* script);
    void DeclareRoutine(TfsXMLItem* element, TfsScript* script);
    void DeclareParameters(TfsXMLItem* element, TfsProcVariable* routine);
    TfsCustomVariable* CreateVariable(TfsXMLItem* element, TfsScript* script, bool byReference,
                                      bool isParameter, TfsStatement* list,
                                      const std::string& name);
    TfsArrayHelper* DeclareArray(TfsXMLItem* element, TfsScript* script,
                                 const std::string& typeName, TfsVarType typeCode,
                                 Variant& initial);
    TfsVarType ResolveType(std::string& typeName, TfsScript* script);
    TfsCustomVariable* FindVariable(TfsScript* script, const std::string& name);

    TfsExpression* BuildExpression(TfsXMLItem* element, TfsScript* script);
    void AddExpressionContent(TfsExpression* e, TfsXMLItem* element, TfsScript* script);
    TfsSetExpression* BuildSet(TfsXMLItem* element, TfsScript* script);
    bool ResolveFromWith(const std::string& name, TfsDesignator* d, TfsXMLItem* element,
                         TfsScript* script, bool& lateBound);
    void CheckAssignable(const TfsCustomVariable* target, const TfsExpression* e,
                         const TfsScript* script);
    TfsStatement* Record(TfsStatement* stmt, TfsStatement* list);
    void Note(const TfsXMLItem* element);

    TfsScript& owner_;
    bool needDeclareVars_;
    const TfsParser* scanner_;
    const TfsXMLItem* grammarTypes_;
    std::string errorPos_;
    std::string unitName_;
    TfsXMLItem* programElement_ = nullptr;
    std::vector<std::pair<std::string, TfsWithStmt*>> withList_;
};

// Builds the parser's intermediate program into the script (BuildProgram of the parser).
void BuildProgram(TfsILParser& parser, TfsScript& script);

} // namespace pt
