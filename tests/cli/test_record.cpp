// The record's one table against the published schema: the result event's
// properties are the table's fields, the required ones those that every
// result event has carried since the schema began; its reason codes are the
// program's, and their exit codes are codes the schema knows.
#include "orvane/cli/record.h"
#include "tests/support/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace {

TEST(CliRecord, TheSchemasResultIsTheRecordTable)
{
    std::ifstream in(CLI_SCHEMA);
    std::stringstream text;
    text << in.rdbuf();
    const Json schema = Json::Parse(text.str());
    const Json* result = nullptr;
    for (size_t i = 0; i < schema["allOf"].size(); ++i)
        if (schema["allOf"][i]["if"]["properties"]["event"]["const"].str() == "result")
            result = &schema["allOf"][i]["then"];
    ASSERT_NE(result, nullptr) << "no result event in " << CLI_SCHEMA;

    std::set<std::string> fields, required, inSchema, requiredInSchema;
    for (size_t i = 0; i < kRecordFieldCount; ++i) {
        fields.insert(kRecordFields[i].name);
        if (kRecordFields[i].required)
            required.insert(kRecordFields[i].name);
    }
    for (const std::string& key : (*result)["properties"].keys())
        inSchema.insert(key);
    for (size_t i = 0; i < (*result)["required"].size(); ++i)
        requiredInSchema.insert((*result)["required"][i].str());
    EXPECT_EQ(inSchema, fields);
    EXPECT_EQ(requiredInSchema, required);

    std::set<std::string> reasons, reasonsInSchema;
    std::set<int> codesInSchema;
    for (size_t i = 0; i < (*result)["properties"]["reason_code"]["enum"].size(); ++i)
        reasonsInSchema.insert((*result)["properties"]["reason_code"]["enum"][i].str());
    for (size_t i = 0; i < schema["definitions"]["code"]["enum"].size(); ++i)
        codesInSchema.insert(int(schema["definitions"]["code"]["enum"][i].num()));
    for (size_t i = 0; i < kReasonCodeCount; ++i) {
        reasons.insert(kReasonCodes[i].name);
        EXPECT_EQ(codesInSchema.count(kReasonCodes[i].code), 1u) << kReasonCodes[i].name;
    }
    EXPECT_EQ(reasonsInSchema, reasons);
}

} // namespace

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// docs/cli.md shows the program's --help whole (the manual page is made from
// it too) and lists the stable reason codes the program has.
TEST(CliDocs, TheManualSaysWhatTheProgramSays)
{
    std::string help;
    FILE* p = popen(CLI_PATH " --help", "r");
    for (char block[4096]; p && std::fgets(block, sizeof(block), p);)
        help += block;
    if (p)
        pclose(p);
    std::string docsPath = CLI_SCHEMA;
    docsPath = docsPath.substr(0, docsPath.find_last_of('/') + 1) + "cli.md";
    const std::string docs = Slurp(docsPath);
    const std::string start = "## `orvane-cli --help`\n\n```\n";
    const size_t from = docs.find(start);
    ASSERT_NE(from, std::string::npos);
    const size_t to = docs.find("```\n", from + start.size());
    EXPECT_EQ(docs.substr(from + start.size(), to - from - start.size()), help);

    const size_t list = docs.find("`reason_code` is stable:");
    ASSERT_NE(list, std::string::npos);
    const std::string stable = docs.substr(list, docs.find("\n\n", list) - list);
    for (size_t i = 0; i < kReasonCodeCount; ++i)
        EXPECT_NE(stable.find(std::string("`") + kReasonCodes[i].name + "`"), std::string::npos) << kReasonCodes[i].name;
}

} // namespace
