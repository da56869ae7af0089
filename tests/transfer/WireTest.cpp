#include "transfer/Wire.h"

#include <set>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace qb::transfer {
namespace {

using nlohmann::json;
using platform::asBytes;
using platform::Bytes;

std::set<std::string> keysOf(const json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.insert(key);
    }
    return keys;
}

std::optional<FileHeader> decode(std::string_view text) {
    return Wire::decodeHeader(asBytes(text));
}

TEST(WireHeader, OneFileSendsOnlyTheFourRequiredKeysBehindItsPrefix) {
    const FileHeader header{.v = Wire::generationWaits, .name = "a.txt", .size = 5, .from = "Desk"};
    const Bytes prefix = Wire::encodePrefix(header);

    ASSERT_GT(prefix.size(), Wire::kPrefixLength);
    const auto length = Wire::parsePrefix({prefix.data(), Wire::kPrefixLength});
    ASSERT_EQ(length, prefix.size() - Wire::kPrefixLength);
    const platform::ByteView body{prefix.data() + Wire::kPrefixLength, *length};

    const json object = json::parse(body.begin(), body.end());
    EXPECT_EQ(keysOf(object), (std::set<std::string>{"v", "name", "size", "from"}));
    EXPECT_EQ(object["v"], 3);
    EXPECT_EQ(object["name"], "a.txt");
    EXPECT_EQ(object["size"], 5);
    EXPECT_EQ(object["from"], "Desk");
    EXPECT_EQ(platform::toString(body).find_first_of(" \n"), std::string::npos) << "not compact";
    EXPECT_EQ(Wire::decodeHeader(body), header);
}

TEST(WireHeader, FolderEntriesKeepTheirOrderAndMarkOnlyFolders) {
    const FileHeader header{.v = Wire::generationTls,
                            .name = "F",
                            .size = 5,
                            .from = "Desk",
                            .files = std::vector<FileEntry>{{"x", 3}, {"e", 0}, {"s", 0, true}, {"s/y", 2}},
                            .cert = "Y2VydA==",
                            .sig = "c2ln"};
    const json object = json::parse(Wire::encodeHeader(header));

    EXPECT_EQ(keysOf(object), (std::set<std::string>{"v", "name", "size", "from", "files", "cert", "sig"}));
    const json expected =
        json::parse(R"([{"p":"x","s":3},{"p":"e","s":0},{"p":"s","s":0,"d":true},{"p":"s/y","s":2}])");
    EXPECT_EQ(object["files"], expected);
    EXPECT_EQ(decode(Wire::encodeHeader(header)), header);
}

TEST(WireHeader, BatchAndPairAreWrittenOnlyWhenTrue) {
    const FileHeader pairing{.v = Wire::generationTls, .name = "pair", .size = 0, .from = "Desk", .pair = true};
    const json pairObject = json::parse(Wire::encodeHeader(pairing));
    EXPECT_EQ(keysOf(pairObject), (std::set<std::string>{"v", "name", "size", "from", "pair"}));
    EXPECT_EQ(pairObject["pair"], true);
    EXPECT_EQ(decode(Wire::encodeHeader(pairing)), pairing);

    const FileHeader batch{
        .v = 2, .name = "2 items", .size = 1, .from = "D", .files = {{{"a", 1}, {"b", 0}}}, .batch = true};
    EXPECT_EQ(json::parse(Wire::encodeHeader(batch))["batch"], true);
    EXPECT_EQ(decode(Wire::encodeHeader(batch)), batch);

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
    EXPECT_FALSE(header->cert);
    EXPECT_FALSE(header->sig);
    EXPECT_FALSE(header->batch);
    EXPECT_FALSE(header->pair);
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
