#include "read/zarr_json.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(ZarrJson, NestingIsBoundedBeforeParsingAndTheParserIsStrict) {
    nlohmann::json doc;
    std::string reason;
    const std::string deepest = std::string(64, '[') + std::string(64, ']');
    EXPECT_TRUE(parseZarrJson(deepest, doc, reason)) << reason;
    EXPECT_FALSE(parseZarrJson("[" + deepest + "]", doc, reason));
    EXPECT_EQ(reason, "nests deeper than 64 levels");
    // Brackets inside strings, escaped quotes among them, are not nesting.
    const std::string text = "{\"a\": \"" + std::string(100, '[') + "\\\"" + "\"}";
    EXPECT_TRUE(parseZarrJson(text, doc, reason)) << reason;
    for (const char* bad :
         {"{\"a\": NaN}", "{\"a\": 1,}", "{'a': 1}", "{\"a\": 1", "", "{\"a\": \"\xff\"}"}) {
        EXPECT_FALSE(parseZarrJson(bad, doc, reason)) << bad;
        EXPECT_EQ(reason, "is not JSON");
    }
}

TEST(ZarrJson, TypedReadsCheckWhatAFieldHolds) {
    const nlohmann::json doc = nlohmann::json::parse(
        R"({"big": 18446744073709551615, "neg": -3, "half": 0.5, "nan": "NaN",
            "inf": "-Infinity", "word": "x", "list": [1]})");
    int64_t n = 0;
    EXPECT_FALSE(jsonInteger(doc["big"], n));
    EXPECT_TRUE(jsonInteger(doc["neg"], n));
    EXPECT_EQ(n, -3);
    EXPECT_FALSE(jsonInteger(doc["half"], n));
    double d = 0;
    EXPECT_TRUE(jsonNumber(doc["nan"], d));
    EXPECT_TRUE(std::isnan(d));
    EXPECT_TRUE(jsonNumber(doc["inf"], d));
    EXPECT_EQ(d, -INFINITY);
    EXPECT_FALSE(jsonNumber(doc["word"], d));
    EXPECT_EQ(jsonMember(doc["list"], "x"), nullptr);
    EXPECT_EQ(jsonMember(doc, "absent"), nullptr);
    EXPECT_EQ(jsonShown(nlohmann::json("a\nb")), "\"a\\nb\"");
    EXPECT_EQ(jsonShown(doc["list"]), "a list");
}
