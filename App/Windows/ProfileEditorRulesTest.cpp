#include <gtest/gtest.h>

#include <tuple>

#include "App/Windows/ProfileEditorRules.hpp"

namespace tarvik {
namespace {

namespace R = ProfileEditorRules;
using Codec = R::Codec;
using Format = R::Format;
using Encoding = R::Encoding;

DeviceProfile valid() {
    DeviceProfile profile("my-unit", "うちのナビ");
    profile.files.maxDepth = 3;
    profile.media.maxCardGB = 16;
    return profile;
}

TEST(ProfileEditorRulesTest, CodecRuleSetsTagFormatAndLeavesEncodingAndArtAlone) {
    const struct {
        Format before;
        bool id3v1Before;
        Codec picked;
        Format format;
        bool id3v1;
    } cases[] = {
        {Format::id3v2_3, true, Codec::aac, Format::mp4, false},
        {Format::id3v2_4, false, Codec::aac, Format::mp4, false},
        {Format::mp4, false, Codec::mp3, Format::id3v2_3, false},
        // Only a profile read from a file can arrive at MP3 with these.
        {Format::id3v2_4, true, Codec::mp3, Format::id3v2_4, true},
        {Format::id3v1, true, Codec::mp3, Format::id3v1, true},
    };
    for (const auto& c : cases) {
        DeviceProfile profile = valid();
        profile.tags.format = c.before;
        profile.tags.id3v1 = c.id3v1Before;
        profile.tags.encoding = Encoding::latin1;
        profile.tags.artwork = {true, 500};
        R::codecChanged(profile, c.picked);
        const auto& tags = profile.tags;
        EXPECT_EQ(std::tuple(tags.format, tags.id3v1, tags.encoding),
                  std::tuple(c.format, c.id3v1, Encoding::latin1))
            << rawValue(c.before) << " → " << rawValue(c.picked);
        EXPECT_EQ(tags.artwork, (DeviceProfile::Tags::Artwork{true, 500}));
    }
}

// Each pick mends only what the new format cannot hold, and a later pick
// never puts back what an earlier one changed.
TEST(ProfileEditorRulesTest, TagFormatRuleMendsOnlyWhatTheFormatCannotHold) {
    const struct {
        Encoding before;
        std::vector<Format> picks;
        Encoding encoding;
        bool id3v1, artwork;
    } cases[] = {
        {Encoding::utf8, {Format::id3v2_3}, Encoding::utf16, false, true},
        {Encoding::latin1, {Format::id3v2_3}, Encoding::latin1, false, true},
        {Encoding::utf8, {Format::id3v1}, Encoding::shiftJIS, true, false},
        {Encoding::utf8, {Format::id3v2_4}, Encoding::utf8, false, true},
        {Encoding::utf8, {Format::id3v1, Format::id3v2_4}, Encoding::shiftJIS, true, false},
    };
    for (const auto& c : cases) {
        DeviceProfile profile = valid();
        profile.tags.encoding = c.before;
        profile.tags.artwork = {true, 800};
        for (Format picked : c.picks) {
            profile.tags.format = picked;
            R::tagFormatChanged(profile, picked);
        }
        const auto& tags = profile.tags;
        EXPECT_EQ(std::tuple(tags.encoding, tags.id3v1, tags.artwork.enabled),
                  std::tuple(c.encoding, c.id3v1, c.artwork))
            << rawValue(c.picks.back()) << " after " << c.picks.size() - 1 << " picks";
        EXPECT_EQ(tags.artwork.maxPx, 800);
    }
    for (const auto& format : {Format::id3v2_3, Format::id3v2_4, Format::id3v1, Format::mp4})
        EXPECT_EQ(R::indexOf(R::encodingOptions(format), Encoding::utf8) >= 0,
                  format == Format::id3v2_4)
            << rawValue(format);
}

TEST(ProfileEditorRulesTest, VerifiedCheckKeepsTheNoteAndTakesTodaysDate) {
    DeviceProfile profile = valid();
    R::setVerified(profile, true, "曲名が出た", QDate(2026, 3, 4));
    R::setVerifiedNote(profile, "曲名・アルバム名が出た");
    EXPECT_EQ(profile.verified, (DeviceProfile::Verified{"2026-03-04", "曲名・アルバム名が出た"}));
    R::setVerified(profile, false, "曲名・アルバム名が出た", QDate(2026, 3, 4));
    EXPECT_FALSE(profile.verified);
    R::setVerified(profile, true, "曲名・アルバム名が出た", QDate(2026, 3, 5));
    EXPECT_EQ(profile.verified, (DeviceProfile::Verified{"2026-03-05", "曲名・アルバム名が出た"}));
    R::setVerified(profile, true, "",
                   QDate(987, 1, 2));  // a year before 1000 still has four digits
    EXPECT_EQ(profile.verified->date, "0987-01-02");
}

TEST(ProfileEditorRulesTest, SteppersStayInTheirRangesWithTheirSteps) {
    const struct {
        R::Stepper stepper;
        std::int64_t from;
        bool up;
        std::int64_t to;
    } cases[] = {
        {R::nameMaxStepper(), 60, true, 64},        {R::nameMaxStepper(), 198, true, 200},
        {R::nameMaxStepper(), 250, false, 200},  // a stored value out of range comes back in
        {R::displayWidthStepper(), 1, false, 0},    {R::perFolderStepper(99), 99, true, 100},
        {R::perFolderStepper(100), 100, false, 90}, {R::perFolderStepper(0), 0, false, 0},
        {R::perFolderStepper(995), 995, true, 999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stepper.stepped(c.from, c.up), c.to) << c.from << (c.up ? " up" : " down");
    EXPECT_FALSE(R::nameMaxStepper().canStep(200, true));
    EXPECT_FALSE(R::perFolderStepper(0).canStep(0, false));

    // No limit reads "なし"; the display width stepped down to 0 is no limit at all.
    DeviceProfile profile = valid();
    profile.files.maxPerFolder = 0;
    EXPECT_EQ(R::perFolderLabel(profile), "1 フォルダに入れる曲数の上限: なし");
    R::setDisplayWidth(profile, 1);
    R::setDisplayWidth(profile, R::displayWidthStepper().stepped(R::displayWidth(profile), false));
    EXPECT_EQ(profile.files.displayWidthMax, std::nullopt);
    EXPECT_EQ(R::displayWidthLabel(profile), "名前の表示幅の上限（半角換算、0 = なし）: 0");
}

// The refusal shown, and whether it names a field of the folded advanced
// group, which then opens.
TEST(ProfileEditorRulesTest, RefusalShowsAMissingNameAloneElseEveryProblem) {
    const struct {
        const char* what;
        void (*edit)(DeviceProfile&);
        std::optional<std::string> text;
        bool advanced;
    } cases[] = {
        {"valid", [](DeviceProfile&) {}, std::nullopt, false},
        {"new profile without id", [](DeviceProfile& p) { p.id = ""; }, std::nullopt, false},
        {"blank id counts as none", [](DeviceProfile& p) { p.id = " \t"; }, std::nullopt, false},
        {"blank name hides the rest",
         [](DeviceProfile& p) {
             p.name = "\u3000 ";
             p.files.root = "A/B";
             p.audio.sampleRate = 22050;
         },
         "機種の名前を入れてください", false},
        {"two problems, two lines",
         [](DeviceProfile& p) {
             p.audio.bitrate = 100;
             p.files.root = "a|b";
         },
         "audio.bitrate: 96/128/160/192/256/320 kbps から選んでください\n"
         "files.root: フォルダ名に使えない文字が入っています",
         true},
        {"the quality alone is on the form", [](DeviceProfile& p) { p.audio.bitrate = 100; },
         "audio.bitrate: 96/128/160/192/256/320 kbps から選んでください", false},
        {"the sample rate", [](DeviceProfile& p) { p.audio.sampleRate = 22050; },
         "audio.sampleRate: 44100 か 48000 にしてください", true},
    };
    for (const auto& c : cases) {
        DeviceProfile profile = valid();
        c.edit(profile);
        EXPECT_EQ(R::refusal(profile), c.text) << c.what;
        EXPECT_EQ(R::refusesAdvanced(profile), c.advanced) << c.what;
    }
    for (char sign : std::string("/\\:*?\"<>|")) {
        DeviceProfile profile = valid();
        profile.files.root = std::string("MU") + sign + "SIC";
        EXPECT_EQ(R::refusal(profile), "files.root: フォルダ名に使えない文字が入っています")
            << sign;
    }
}

// A stored value that no choice carries is shown as it is, in its place; a
// value one carries leaves the choices as they are.
TEST(ProfileEditorRulesTest, AStoredValueNoChoiceCarriesIsShownAsItIs) {
    using Choices = std::vector<R::Option<std::int64_t>>;
    const struct {
        Choices (*choices)(std::int64_t);
        const Choices& offered;
        std::int64_t stored;
        int at;  // -1: one of the offered choices
        const char* label;
    } cases[] = {
        {R::qualityOptions, R::qualityOptions(), 320, 3, "320kbps"},
        {R::qualityOptions, R::qualityOptions(), 96, 0, "96kbps"},
        {R::qualityOptions, R::qualityOptions(), 192, -1, ""},
        {R::sampleRateOptions, R::sampleRateOptions(), 22050, 0, "22.05 kHz"},
        {R::sampleRateOptions, R::sampleRateOptions(), 11025, 0, "11.025 kHz"},
        {R::sampleRateOptions, R::sampleRateOptions(), 96000, 2, "96 kHz"},
        {R::sampleRateOptions, R::sampleRateOptions(), 44100, -1, ""},
        {R::artworkSizeOptions, R::artworkSizeOptions(), 1000, 3, "1000px"},
        {R::artworkSizeOptions, R::artworkSizeOptions(), 500, -1, ""},
    };
    for (const auto& c : cases) {
        Choices expected = c.offered;
        if (c.at >= 0) expected.insert(expected.begin() + c.at, {c.stored, c.label});
        const Choices shown = c.choices(c.stored);
        ASSERT_EQ(shown.size(), expected.size()) << c.stored;
        for (std::size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(std::tie(shown[i].value, shown[i].label),
                      std::tie(expected[i].value, expected[i].label))
                << c.stored << " at " << i;
    }
    const auto encodings = [](Format format, Encoding stored) {
        std::vector<Encoding> values;
        for (const auto& option : R::encodingOptions(format, stored))
            values.push_back(option.value);
        return values;
    };
    EXPECT_EQ(encodings(Format::id3v2_3, Encoding::utf8),
              (std::vector{Encoding::utf16, Encoding::utf8, Encoding::latin1, Encoding::shiftJIS}));
    EXPECT_EQ(encodings(Format::id3v2_3, Encoding::latin1),
              (std::vector{Encoding::utf16, Encoding::latin1, Encoding::shiftJIS}));
}

}  // namespace
}  // namespace tarvik
