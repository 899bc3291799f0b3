#include "App/Windows/ProfileEditorRules.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "Core/Platform/Text.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik::ProfileEditorRules {

const std::vector<Option<std::int64_t>>& qualityOptions() {
    static const std::vector<Option<std::int64_t>> options{
        {128, "小さめ（たくさん入る・128kbps）"},
        {192, "標準（おすすめ・192kbps）"},
        {256, "高音質（容量を多く使う・256kbps）"},
    };
    return options;
}

const std::vector<Option<Layout>>& layoutOptions() {
    static const std::vector<Option<Layout>> options{
        {Layout::artistAlbum, "アーティスト / アルバム"},
        {Layout::album, "アルバムだけ"},
        {Layout::flat, "分けない（全曲 1 つのフォルダ）"},
        {Layout::artist, "アーティストごと 1 フォルダ（古い国産ナビ向け。曲名の頭にアルバム番号）"},
    };
    return options;
}

const std::vector<Option<Codec>>& codecOptions() {
    static const std::vector<Option<Codec>> options{
        {Codec::mp3, "MP3（ほとんどの機種）"},
        {Codec::aac, "AAC / m4a（新しめの機種・iPod 対応機）"},
    };
    return options;
}

const std::vector<Option<std::int64_t>>& sampleRateOptions() {
    static const std::vector<Option<std::int64_t>> options{
        {44100, "44.1 kHz（標準）"},
        {48000, "48 kHz"},
    };
    return options;
}

const std::vector<Option<Format>>& tagFormatOptions() {
    static const std::vector<Option<Format>> options{
        {Format::id3v2_3, "ID3v2.3（古い機種も読める）"},
        {Format::id3v2_4, "ID3v2.4（新しい機種向け）"},
        {Format::id3v1, "ID3v1 だけ（2000 年代の国産ナビ。JIS 形式）"},
    };
    return options;
}

std::vector<Option<Encoding>> encodingOptions(Format format) {
    std::vector<Option<Encoding>> options{{Encoding::utf16, "UTF-16（日本語が確実）"}};
    if (format == Format::id3v2_4) options.push_back({Encoding::utf8, "UTF-8"});
    options.push_back({Encoding::latin1, "英数字は 1 バイト、日本語は UTF-16"});
    options.push_back({Encoding::shiftJIS, "Shift-JIS（JIS 形式。古い国産ナビ）"});
    return options;
}

const std::vector<Option<std::int64_t>>& artworkSizeOptions() {
    static const std::vector<Option<std::int64_t>> options{
        {300, "300px"},
        {500, "500px"},
        {800, "800px"},
    };
    return options;
}

namespace {

// Inserted before the first larger value, so the list stays in order.
std::vector<Option<std::int64_t>> withStored(std::vector<Option<std::int64_t>> options,
                                             std::int64_t stored, std::string label) {
    if (indexOf(options, stored) >= 0) return options;
    const auto place = std::find_if(options.begin(), options.end(),
                                    [&](const auto& option) { return option.value > stored; });
    options.insert(place, {stored, std::move(label)});
    return options;
}

// 22050 -> "22.05", 48000 -> "48": hertz in kilohertz without trailing zeros.
std::string kilohertz(std::int64_t hertz) {
    const std::uint64_t magnitude =
        hertz < 0 ? 0 - static_cast<std::uint64_t>(hertz) : static_cast<std::uint64_t>(hertz);
    std::string text = (hertz < 0 ? "-" : "") + std::to_string(magnitude / 1000);
    std::string fraction = std::to_string(magnitude % 1000 + 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

// The fields the advanced group holds, as the validator names them.
constexpr std::array<std::string_view, 8> advancedFields = {
    "tags.format",        "tags.encoding", "tags.id3v1",         "audio.sampleRate",
    "tags.artwork.maxPx", "files.root",    "files.maxPerFolder", "files.nameMax"};

}  // namespace

std::vector<Option<std::int64_t>> qualityOptions(std::int64_t stored) {
    return withStored(qualityOptions(), stored, std::to_string(stored) + "kbps");
}

std::vector<Option<std::int64_t>> sampleRateOptions(std::int64_t stored) {
    return withStored(sampleRateOptions(), stored, kilohertz(stored) + " kHz");
}

std::vector<Option<Encoding>> encodingOptions(Format format, Encoding stored) {
    std::vector<Option<Encoding>> options = encodingOptions(format);
    // Every encoding is offered under ID3v2.4, in the order the sheet shows them.
    if (indexOf(options, stored) < 0) options = encodingOptions(Format::id3v2_4);
    return options;
}

std::vector<Option<std::int64_t>> artworkSizeOptions(std::int64_t stored) {
    return withStored(artworkSizeOptions(), stored, std::to_string(stored) + "px");
}

DeviceProfile editable(DeviceProfile profile) {
    codecChanged(profile, profile.audio.codec);
    return profile;
}

std::string title(const DeviceProfile& profile) {
    return profile.fileURL ? "機種の設定を編集" : "新しい機種の設定";
}

bool canDelete(const DeviceProfile& profile) {
    return profile.fileURL.has_value() && !profile.isBuiltin;
}

void codecChanged(DeviceProfile& profile, Codec codec) {
    if (codec == Codec::aac) {
        profile.tags.format = Format::mp4;
        profile.tags.id3v1 = false;
    } else if (profile.tags.format == Format::mp4) {
        profile.tags.format = Format::id3v2_3;
    }
}

void tagFormatChanged(DeviceProfile& profile, Format format) {
    if (format == Format::id3v2_3 && profile.tags.encoding == Encoding::utf8) {
        profile.tags.encoding = Encoding::utf16;
    } else if (format == Format::id3v1) {
        profile.tags.encoding = Encoding::shiftJIS;
        profile.tags.id3v1 = true;
        profile.tags.artwork.enabled = false;
    }
}

void setVerified(DeviceProfile& profile, bool on, const std::string& note, QDate today) {
    if (!on) {
        profile.verified.reset();
        return;
    }
    // ISO dates are Gregorian whatever the user's locale and calendar.
    profile.verified = DeviceProfile::Verified{today.toString(Qt::ISODate).toStdString(), note};
}

void setVerifiedNote(DeviceProfile& profile, const std::string& note) {
    if (profile.verified) profile.verified->note = note;
}

std::int64_t Stepper::stepped(std::int64_t value, bool up) const {
    return std::clamp(up ? value + step : value - step, lowest, highest);
}

bool Stepper::canStep(std::int64_t value, bool up) const {
    return up ? value < highest : value > lowest;
}

Stepper nameMaxStepper() {
    return {8, 200, 4};
}
Stepper displayWidthStepper() {
    return {0, 200, 2};
}
Stepper perFolderStepper(std::int64_t current) {
    return {0, 999, current < 100 ? 1 : 10};
}

std::int64_t displayWidth(const DeviceProfile& profile) {
    return profile.files.displayWidthMax.value_or(0);
}

void setDisplayWidth(DeviceProfile& profile, std::int64_t value) {
    if (value == 0) {
        profile.files.displayWidthMax.reset();
    } else {
        profile.files.displayWidthMax = value;
    }
}

std::string nameMaxLabel(const DeviceProfile& profile) {
    return "名前の最大文字数: " + std::to_string(profile.files.nameMax);
}

std::string displayWidthLabel(const DeviceProfile& profile) {
    return "名前の表示幅の上限（半角換算、0 = なし）: " + std::to_string(displayWidth(profile));
}

std::string perFolderLabel(const DeviceProfile& profile) {
    const std::int64_t limit = profile.files.maxPerFolder;
    return "1 フォルダに入れる曲数の上限: " +
           (limit == 0 ? std::string("なし") : std::to_string(limit));
}

std::optional<std::string> refusal(const DeviceProfile& profile) {
    std::vector<ProfileValidator::Problem> problems = ProfileValidator::validate(profile);
    // The sheet has no id field: the model names a profile without one when it
    // saves it, so its problem could never be mended here.
    if (text::trim(profile.id).empty())
        std::erase_if(problems, [](const auto& problem) { return problem.field == "id"; });
    const auto name = std::find_if(problems.begin(), problems.end(),
                                   [](const auto& problem) { return problem.field == "name"; });
    if (name != problems.end()) return name->message;
    if (problems.empty()) return std::nullopt;
    std::string text;
    for (const auto& problem : problems) {
        if (!text.empty()) text += '\n';
        text += problem.description();
    }
    return text;
}

bool refusesAdvanced(const DeviceProfile& profile) {
    const auto problems = ProfileValidator::validate(profile);
    const auto names = [&](std::string_view field) {
        return std::any_of(problems.begin(), problems.end(),
                           [&](const auto& problem) { return problem.field == field; });
    };
    // A missing name is shown alone.
    return !names("name") && std::any_of(advancedFields.begin(), advancedFields.end(), names);
}

std::string saveFailure(const std::exception& error) {
    return std::string("保存できませんでした: ") + error.what();
}

}  // namespace tarvik::ProfileEditorRules
