#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Platform/Json.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik::ProfileValidator {
namespace {

const Problem idEmpty{"id", "空にできません"};
const Problem nameEmpty{"name", "機種の名前を入れてください"};
const Problem aacNeedsMp4{"tags.format", "AAC (m4a) のタグは mp4 にしてください"};
const Problem mp3NeedsId3{"tags.format", "MP3 のタグは id3v2.3 か id3v2.4 か id3v1 にしてください"};
const Problem id3v1OnlyMp3{"tags.format", "ID3v1 は MP3 のときだけ書けます"};
const Problem id3v1Encoding{"tags.encoding",
                            "ID3v1 だけのときは文字コードを Shift-JIS か Latin-1 にしてください"};
const Problem id3v1NoArt{"tags.artwork", "ID3v1 だけのときはジャケット画像を入れられません"};
const Problem v23NoUtf8{"tags.encoding", "ID3v2.3 に UTF-8 はありません（UTF-16 にしてください）"};
const Problem extraV1OnlyMp3{"tags.id3v1", "ID3v1 は MP3 のときだけ書けます"};
const Problem bitrate{"audio.bitrate", "96/128/160/192/256/320 kbps から選んでください"};
const Problem sampleRate{"audio.sampleRate", "44100 か 48000 にしてください"};
const Problem artSize{"tags.artwork.maxPx", "100〜1200 px にしてください"};
const Problem nameMax{"files.nameMax", "8〜200 文字にしてください"};
const Problem perFolder{"files.maxPerFolder", "0（制限なし）〜999 にしてください"};
const Problem root{"files.root", "フォルダ名に使えない文字が入っています"};
const Problem rootDots{"files.root", "「.」や「..」はフォルダ名にできません"};

TEST(ProfileValidator, ReportsEveryProblemInOrder) {
    struct Case {
        std::string patch;  // merged into a default profile's file form
        std::vector<Problem> expected;
    };
    const std::string aacV1Art =
        R"("audio": {"codec": "aac"}, "tags": {"format": "id3v1", "artwork": {"enabled": true})";
    const std::vector<Case> cases = {
        {"{}", {}},
        {R"({"id": "\u3000\u3000"})", {idEmpty}},
        {R"({"id": "\n"})", {}},
        {R"({"name": " \t"})", {nameEmpty}},
        {"{" + aacV1Art + "}}", {aacNeedsMp4, id3v1OnlyMp3, id3v1Encoding, id3v1NoArt}},
        {"{" + aacV1Art + R"(, "id3v1": true}})",
         {aacNeedsMp4, id3v1OnlyMp3, id3v1Encoding, id3v1NoArt, extraV1OnlyMp3}},
        {R"({"tags": {"format": "mp4"}})", {mp3NeedsId3}},
        {R"({"audio": {"codec": "aac"}, "tags": {"format": "mp4"}})", {}},
        {R"({"tags": {"encoding": "utf8"}})", {v23NoUtf8}},
        {R"({"tags": {"format": "id3v2.4", "encoding": "utf8"}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "latin1"}})", {}},
        {R"({"tags": {"format": "id3v1", "encoding": "shift_jis"}})", {}},
        {R"({"tags": {"artwork": {"maxPx": 5000}}})", {}},
        {R"({"tags": {"artwork": {"enabled": true, "maxPx": 99}}})", {artSize}},
        {R"({"tags": {"artwork": {"enabled": true, "maxPx": 1201}}})", {artSize}},
        {R"({"tags": {"artwork": {"enabled": true, "maxPx": 1200}}})", {}},
        {R"({"audio": {"bitrate": 0, "sampleRate": 22050}})", {bitrate, sampleRate}},
        {R"({"audio": {"bitrate": 96, "sampleRate": 48000}})", {}},
        {R"({"audio": {"bitrate": 193}})", {bitrate}},
        {R"({"files": {"nameMax": 7, "maxPerFolder": -1}})", {nameMax, perFolder}},
        {R"({"files": {"nameMax": 201, "maxPerFolder": 1000}})", {nameMax, perFolder}},
        {R"({"files": {"nameMax": 8, "maxPerFolder": 999}})", {}},
        {R"({"files": {"root": "MUSIC/A"}})", {root}},
        {R"({"files": {"root": "曲|"}})", {root}},
        {R"({"files": {"root": "ＭＵＳＩＣ／＊"}})", {}},
        {R"({"files": {"root": ""}})", {}},
        // The top folder is joined to the destination: it must not climb out
        // of it, name it again or start somewhere else.
        {R"({"files": {"root": ".."}})", {rootDots}},
        {R"({"files": {"root": "."}})", {rootDots}},
        {R"({"files": {"root": "../Documents"}})", {root, rootDots}},
        {R"({"files": {"root": "/home"}})", {root}},
        {R"({"files": {"root": "..."}})", {}},
        {R"({"files": {"root": ".MUSIC"}})", {}},
        {R"({"files": {"root": "MU\u0000SIC"}})", {root}},
        {R"({"files": {"root": "MUSIC\n"}})", {root}},
        {R"({"files": {"root": "MU\u007fSIC"}})", {root}},
        {R"({"files": {"root": "MU\u0085SIC"}})", {root}},
    };
    for (const Case& c : cases) {
        nlohmann::json file = DeviceProfile("id", "Name").toJson();
        file.merge_patch(json::parse(c.patch));
        EXPECT_EQ(validate(DeviceProfile::fromJson(file)), c.expected) << c.patch;
    }
    DeviceProfile latin1("id", "Name");
    latin1.files.root = "caf\xE9";  // no UTF-8: no name the card can show
    EXPECT_EQ(validate(latin1), std::vector<Problem>{root});
    EXPECT_EQ(root.description(), "files.root: フォルダ名に使えない文字が入っています");
}

}  // namespace
}  // namespace tarvik::ProfileValidator
