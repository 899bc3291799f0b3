#include "Core/Profiles/ProfileValidator.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ranges>
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

// A control character (general category Cc: U+0000 to U+001F and U+007F to
// U+009F) or bytes that are no UTF-8: no card shows such a name, and a NUL
// would cut the path short when it reaches the system.
bool hasUnprintable(std::string_view text) {
    if (!text::isValidUTF8(text)) return true;
    const std::u32string scalars = text::scalars(text);
    return std::any_of(scalars.begin(), scalars.end(), [](char32_t scalar) {
        return scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F);
    });
}

// A level of nothing but spaces and dots: FAT and exFAT drop trailing spaces
// and dots, so " .." or "..." is "..", "." or nothing on the card, and the top
// folder would climb out of the destination or name it again.
bool hasDotLevel(std::string_view root) {
    return std::ranges::any_of(std::views::split(root, '/'), [](auto part) {
        const std::string_view level(part.begin(), part.end());
        return !level.empty() && level.find_first_not_of(" .") == std::string_view::npos;
    });
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
    const std::array<std::pair<bool, Problem>, 16> checks{{
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
        {profile.files.root.find_first_of(rootForbidden) != std::string::npos ||
             hasUnprintable(profile.files.root),
         {"files.root", "フォルダ名に使えない文字が入っています"}},
        {hasDotLevel(profile.files.root),
         {"files.root", "空白や「.」「..」だけの名前はフォルダ名にできません"}},
    }};

    std::vector<Problem> problems;
    for (const auto& [failed, problem] : checks) {
        if (failed) problems.push_back(problem);
    }
    return problems;
}

}  // namespace tarvik::ProfileValidator
