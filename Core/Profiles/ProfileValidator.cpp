#include "Core/Profiles/ProfileValidator.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "Core/Platform/Text.hpp"

namespace tarvik::ProfileValidator {
namespace {

using Codec = DeviceProfile::Audio::Codec;
using Format = DeviceProfile::Tags::Format;
using Encoding = DeviceProfile::Tags::Encoding;

constexpr std::array<std::int64_t, 6> bitrates{96, 128, 160, 192, 256, 320};
constexpr std::array<std::int64_t, 2> sampleRates{44100, 48000};
// All ASCII, so a byte search over UTF-8 cannot hit part of another character.
constexpr std::string_view rootForbidden = "/\\:*?\"<>|";

bool isBlank(std::string_view text) {
    return text::trim(text).empty();
}

template <std::size_t N>
bool contains(const std::array<std::int64_t, N>& allowed, std::int64_t value) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

bool within(std::int64_t value, std::int64_t lowest, std::int64_t highest) {
    return value >= lowest && value <= highest;
}

}  // namespace

std::string Problem::description() const {
    return field + ": " + message;
}

std::vector<Problem> validate(const DeviceProfile& profile) {
    const Codec codec = profile.audio.codec;
    const Format format = profile.tags.format;
    const Encoding encoding = profile.tags.encoding;
    const bool artwork = profile.tags.artwork.enabled;

    // The order of the checks is the order the editor lists the problems in.
    const std::array<std::pair<bool, Problem>, 15> checks{{
        {isBlank(profile.id), {"id", "空にできません"}},
        {isBlank(profile.name), {"name", "機種の名前を入れてください"}},
        {codec == Codec::aac && format != Format::mp4,
         {"tags.format", "AAC (m4a) のタグは mp4 にしてください"}},
        {codec == Codec::mp3 && format == Format::mp4,
         {"tags.format", "MP3 のタグは id3v2.3 か id3v2.4 か id3v1 にしてください"}},
        {format == Format::id3v1 && codec != Codec::mp3,
         {"tags.format", "ID3v1 は MP3 のときだけ書けます"}},
        {format == Format::id3v1 && encoding != Encoding::shiftJIS && encoding != Encoding::latin1,
         {"tags.encoding", "ID3v1 だけのときは文字コードを Shift-JIS か Latin-1 にしてください"}},
        {format == Format::id3v1 && artwork,
         {"tags.artwork", "ID3v1 だけのときはジャケット画像を入れられません"}},
        {format == Format::id3v2_3 && encoding == Encoding::utf8,
         {"tags.encoding", "ID3v2.3 に UTF-8 はありません（UTF-16 にしてください）"}},
        {profile.tags.id3v1 && codec != Codec::mp3,
         {"tags.id3v1", "ID3v1 は MP3 のときだけ書けます"}},
        {!contains(bitrates, profile.audio.bitrate),
         {"audio.bitrate", "96/128/160/192/256/320 kbps から選んでください"}},
        {!contains(sampleRates, profile.audio.sampleRate),
         {"audio.sampleRate", "44100 か 48000 にしてください"}},
        {artwork && !within(profile.tags.artwork.maxPx, 100, 1200),
         {"tags.artwork.maxPx", "100〜1200 px にしてください"}},
        {!within(profile.files.nameMax, 8, 200), {"files.nameMax", "8〜200 文字にしてください"}},
        {!within(profile.files.maxPerFolder, 0, 999),
         {"files.maxPerFolder", "0（制限なし）〜999 にしてください"}},
        {profile.files.root.find_first_of(rootForbidden) != std::string::npos,
         {"files.root", "フォルダ名に使えない文字が入っています"}},
    }};

    std::vector<Problem> problems;
    for (const auto& [failed, problem] : checks) {
        if (failed) problems.push_back(problem);
    }
    return problems;
}

}  // namespace tarvik::ProfileValidator
