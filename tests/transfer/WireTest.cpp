#include "transfer/Wire.h"

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace qb::transfer {
namespace {

using nlohmann::json;

std::optional<FileHeader> decode(std::string_view text) {
    return Wire::decodeHeader(platform::asBytes(text));
}

// Each header goes out as its compact JSON behind the prefix, with only the keys that apply, and reads back
// as itself.
TEST(WireHeader, EncodesOnlyTheKeysThatApplyAndDecodesBack) {
    const std::vector<FileEntry> entries{{"x", 3}, {"e", 0}, {"s", 0, true}, {"s/y", 2}};
    const std::pair<FileHeader, const char*> rows[] = {
        {{.v = Wire::generationWaits, .name = "a.txt", .size = 5, .from = "Desk"},
         R"({"v":3,"name":"a.txt","size":5,"from":"Desk"})"},
        // Entries keep their order, and only folders are marked.
        {{.v = 5, .name = "F", .size = 5, .from = "Desk", .files = entries, .cert = "Y2VydA==", .sig = "c2ln"},
         R"({"v":5,"name":"F","size":5,"from":"Desk","cert":"Y2VydA==","sig":"c2ln",)"
         R"("files":[{"p":"x","s":3},{"p":"e","s":0},{"p":"s","s":0,"d":true},{"p":"s/y","s":2}]})"},
        // `pair` and `batch` are written only when true.
        {{.v = 5, .name = "pair", .size = 0, .from = "Desk", .pair = true},
         R"({"v":5,"name":"pair","size":0,"from":"Desk","pair":true})"},
        {{.v = 2, .name = "2 items", .size = 1, .from = "D", .files = {{{"a", 1}, {"b", 0}}}, .batch = true},
         R"({"v":2,"name":"2 items","size":1,"from":"D","batch":true,"files":[{"p":"a","s":1},{"p":"b","s":0}]})"},
    };
    for (const auto& [header, expected] : rows) {
        SCOPED_TRACE(expected);
        const platform::Bytes prefix = Wire::encodePrefix(header);
        ASSERT_GT(prefix.size(), Wire::kPrefixLength);
        const auto length = Wire::parsePrefix({prefix.data(), Wire::kPrefixLength});
        ASSERT_EQ(length, prefix.size() - Wire::kPrefixLength);
        const platform::ByteView body{prefix.data() + Wire::kPrefixLength, *length};
        const json object = json::parse(body.begin(), body.end());
        EXPECT_EQ(object, json::parse(expected));
        EXPECT_EQ(object.dump().size(), body.size()) << "not compact";
        EXPECT_EQ(Wire::decodeHeader(body), header);
    }
    // Linux file names need not be UTF-8; encoding must not throw on them.
    const FileHeader oddName{.v = 3, .name = "bad\xff.txt", .size = 1, .from = "Desk"};
    EXPECT_EQ(decode(Wire::encodeHeader(oddName))->name, "bad\xEF\xBF\xBD.txt");
}

TEST(WireHeader, DecodingIgnoresUnknownKeysAndTakesMissingOrNullOptionalsAsAbsent) {
    const auto header =
        decode(R"({"v":3,"name":"a\/b","size":-1,"from":"D","extra":{"x":[1]},"cert":null,"batch":null,)"
               R"("files":[{"p":"x","s":0,"d":false,"q":1}]})");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->name, "a/b");
    EXPECT_FALSE(header->cert || header->sig || header->batch || header->pair);
    EXPECT_EQ(header->files, (std::vector<FileEntry>{{"x", 0, false}}));
    EXPECT_TRUE(Wire::hasNegativeSize(*header));
}

TEST(WireHeader, MalformedHeadersDoNotDecode) {
    const char* const malformed[] = {
        "",
        "not json",
        "[]",
        R"("text")",
        R"({"v":3,"name":"a","size":1,"from":"D"} trailing)",
        R"({"name":"a","size":1,"from":"D"})",
        R"({"v":3,"size":1,"from":"D"})",
        R"({"v":3,"name":"a","from":"D"})",
        R"({"v":3,"name":"a","size":1})",
        R"({"v":null,"name":"a","size":1,"from":"D"})",
        R"({"v":"3","name":"a","size":1,"from":"D"})",
        R"({"v":3.0,"name":"a","size":1,"from":"D"})",
        R"({"v":4294967296,"name":"a","size":1,"from":"D"})",
        R"({"v":3,"name":1,"size":1,"from":"D"})",
        R"({"v":3,"name":"a","size":5.0,"from":"D"})",
        R"({"v":3,"name":"a","size":"5","from":"D"})",
        R"({"v":3,"name":"a","size":9223372036854775808,"from":"D"})",
        R"({"v":3,"name":"a","size":1,"from":true})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":{}})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":[{"s":1}]})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":[{"p":"x"}]})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":[{"p":"x","s":1.5}]})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":[{"p":"x","s":1,"d":1}]})",
        R"({"v":3,"name":"a","size":1,"from":"D","files":["x"]})",
        R"({"v":3,"name":"a","size":1,"from":"D","batch":"true"})",
        R"({"v":3,"name":"a","size":1,"from":"D","pair":1})",
        R"({"v":3,"name":"a","size":1,"from":"D","cert":5})",
        "{\"v\":3,\"name\":\"\xff\",\"size\":1,\"from\":\"D\"}",
    };
    for (const char* text : malformed) {
        EXPECT_EQ(decode(text), std::nullopt) << text;
    }
}

TEST(WireAsciiName, KeepsPrintableAsciiCollapsesTheRestAndCutsAtSixty) {
    EXPECT_EQ(Wire::asciiName("Zoë's  Mac\t"), "Zo 's Mac");
    EXPECT_EQ(Wire::asciiName("山田のパソコン"), "Device");
    EXPECT_EQ(Wire::asciiName(""), "Device");
    EXPECT_EQ(Wire::asciiName(" \t\n "), "Device");
    EXPECT_EQ(Wire::asciiName("a\xff\xfe"
                              "b\x7f"
                              "c\x01"),
              "a b c");
    EXPECT_EQ(Wire::asciiName("\xc3(x"), "(x");  // a lead byte without its continuation
    EXPECT_EQ(Wire::asciiName("😀 Desk 😀"), "Desk");

    const std::string seventy(70, 'n');
    EXPECT_EQ(Wire::asciiName(seventy), seventy.substr(0, 60));
    const std::string spaceAtCut = std::string(59, 'a') + "  " + std::string(10, 'b');
    EXPECT_EQ(Wire::asciiName(spaceAtCut), std::string(59, 'a') + " ");
}

}  // namespace
}  // namespace qb::transfer
