// The bounded JSON reader: nesting and repeated keys are refused before a value
// is built, with the place named; the fuzz target's inputs replay cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/error_of.h"
#include "app/io/errors.h"
#include "app/session/flow_loader.h"
#include "app/io/json_text.h"

namespace fuzzing {
int RunJsonTextInput(const uint8_t* data, size_t size);
}

using namespace lumets;

namespace {

std::string Nested(size_t depth, const std::string& inner = "1") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

}  // namespace

TEST(JsonText, NestingBeyondTheBoundIsRefusedAtItsPlace) {
    EXPECT_EQ(ParseJsonText(Nested(64), "t.json")[0].size(), 1u);
    EXPECT_EQ(ErrorOf([] { ParseJsonText(Nested(65), "t.json"); }), "t.json:1:65: JSON nested more than 64 levels deep");
    // A request body of 100000 nested arrays, and one of objects.
    EXPECT_EQ(ErrorOf([] { ParseJsonText(Nested(100000), "body"); }), "body:1:65: JSON nested more than 64 levels deep");
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_EQ(ErrorOf([&] { ParseJsonText(objects, "body"); }), "body:1:321: JSON nested more than 64 levels deep");
    // Brackets inside strings (escaped quotes included) are text, not nesting.
    const std::string quoted = "{\"a\": \"\\\"" + std::string(1000, '[') + "\", \"b\": 2}";
    EXPECT_EQ(ParseJsonText(quoted, "t.json")["b"], 2);
    // The place is counted in lines of the text.
    const std::string flow = "{\"flow\": 1, \"frames\": [0, 1],\n  \"_deep\": " + Nested(100000) + "}";
    EXPECT_EQ(ErrorOf([&] { ParseFlow(flow, "f.json", ""); }), "f.json:2:75: JSON nested more than 64 levels deep");
}

TEST(JsonText, RepeatedKeysAreRefusedNamingTheKeyAndItsLines) {
    EXPECT_EQ(ErrorOf([] {
                  ParseFlow("{\"flow\": 1, \"frames\": [0, 1],\n \"controls\": {\"Birthrate\": 1,\n  \"Birthrate\": 2}}",
                            "f.json", "");
              }),
              "f.json:3:3: duplicate key \"Birthrate\" (first given on line 2)");
    // The same key written another way is the same key.
    EXPECT_NE(ErrorOf([] { ParseJsonText(R"({"seed": 1, "s\u0065ed": 2})", "t.json"); }).find("duplicate key \"seed\""),
              std::string::npos);
    EXPECT_NE(ErrorOf([] { ParseJsonText(R"({"\ud83d\ude00": 1, "😀": 2})", "t.json"); }).find("duplicate key"),
              std::string::npos);
    // Each object has keys of its own.
    const Json ok = ParseJsonText(R"({"a": {"a": 1}, "b": [{"a": 1}, {"a": 2}], "c": {"a": 1, "b": {}}})", "t.json");
    EXPECT_EQ(ok["b"][1]["a"], 2);
    // A key's control characters are shown escaped, a long key cut short.
    const std::string shown = ErrorOf([] { ParseJsonText(R"({"\u001b[2J": 1, "\u001b[2J": 2})", "t.json"); });
    EXPECT_NE(shown.find("duplicate key \"\\u001B[2J\""), std::string::npos) << shown;
    const std::string longKey(500, 'k');
    const std::string cut = ErrorOf([&] { ParseJsonText("{\"" + longKey + "\": 1, \"" + longKey + "\": 2}", "t.json"); });
    EXPECT_LT(cut.size(), 150u) << cut;
}

// Every committed input of the reader's fuzz target and of the flow loader's
// goes through the target's checks (a failed check aborts).
TEST(JsonText, FuzzInputsReplayCleanly) {
    namespace fs = std::filesystem;
    size_t replayed = 0;
    for (const char* target : {"json_text", "flow_loader"}) {
        for (const auto& e : fs::directory_iterator(fs::path(LUMETS_SOURCE_DIR) / "fuzz" / "corpus" / target)) {
            if (!e.is_regular_file()) continue;
            std::ifstream in(e.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(fuzzing::RunJsonTextInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 100u);
}
