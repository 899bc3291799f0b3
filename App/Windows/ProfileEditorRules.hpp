#pragma once
// What the device-profile editor shows and how its edits change the working
// copy, as plain functions without widgets: the option tables with their
// labels, the title, the stepper ranges, steps and labels, the two rules that
// keep codec, tag format and encoding consistent, the real-unit check, and the
// texts a refused or failed save shows. The sheet only lays these out. Pure;
// any thread; never fails.
#include <QDate>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik::ProfileEditorRules {

using Codec = DeviceProfile::Audio::Codec;
using Format = DeviceProfile::Tags::Format;
using Encoding = DeviceProfile::Tags::Encoding;
using Layout = DeviceProfile::Files::Layout;

template <typename T>
struct Option {
    T value;
    std::string label;
};

// The pickers' choices in the order shown. A stored value none of them carries
// (a bit rate of 320 from a file) is left as it is until the user picks one.
const std::vector<Option<std::int64_t>>& qualityOptions();
const std::vector<Option<Layout>>& layoutOptions();
const std::vector<Option<Codec>>& codecOptions();
const std::vector<Option<std::int64_t>>& sampleRateOptions();
// "mp4" is never offered: the codec rule sets it.
const std::vector<Option<Format>>& tagFormatOptions();
// UTF-8 only while the format is ID3v2.4.
std::vector<Option<Encoding>> encodingOptions(Format format);
const std::vector<Option<std::int64_t>>& artworkSizeOptions();

// The same choices with the stored value added in its place where none of
// them carries it ("320kbps", "22.05 kHz", "UTF-8", "1000px"), so that a
// picker shows what an older or hand-written profile holds instead of
// nothing; the added choice goes once the user picks another.
std::vector<Option<std::int64_t>> qualityOptions(std::int64_t stored);
std::vector<Option<std::int64_t>> sampleRateOptions(std::int64_t stored);
std::vector<Option<Encoding>> encodingOptions(Format format, Encoding stored);
std::vector<Option<std::int64_t>> artworkSizeOptions(std::int64_t stored);

// The index of `value` among `options`, or -1 when none carries it.
template <typename T>
int indexOf(const std::vector<Option<T>>& options, const T& value) {
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i].value == value) return static_cast<int>(i);
    return -1;
}

// A new profile (no file) or one read from a file, delivered ones included.
std::string title(const DeviceProfile& profile);
// Only a user's own profile file can be deleted.
bool canDelete(const DeviceProfile& profile);

// The working copy the sheet starts from: the codec rule applied to what the
// file held, so that no row hidden for the codec (the tag rows under AAC)
// keeps a value the save would refuse, and the AAC note tells the truth.
DeviceProfile editable(DeviceProfile profile);

// After the user picks another codec: AAC takes MP4 tags without the extra
// ID3v1 tag; MP3 leaves MP4 tags for ID3v2.3 and keeps any other format.
void codecChanged(DeviceProfile& profile, Codec codec);
// After the user picks another tag format: ID3v2.3 cannot hold UTF-8; ID3v1
// alone takes Shift-JIS, the extra ID3v1 tag and no cover art.
void tagFormatChanged(DeviceProfile& profile, Format format);

// The real-unit check. Turning it on records `today` (always written in the
// Gregorian calendar as yyyy-MM-dd) and the note typed so far; turning it off
// drops the record, while the sheet keeps the note for the next time.
void setVerified(DeviceProfile& profile, bool on, const std::string& note, QDate today);
// Copies the note into the record, when there is one.
void setVerifiedNote(DeviceProfile& profile, const std::string& note);

// A stepper moves by `step` within [lowest, highest].
struct Stepper {
    std::int64_t lowest;
    std::int64_t highest;
    std::int64_t step;

    // The value after one press; a value outside the range is brought inside.
    std::int64_t stepped(std::int64_t value, bool up) const;
    bool canStep(std::int64_t value, bool up) const;
};

Stepper nameMaxStepper();
Stepper displayWidthStepper();
// Steps of 1 below 100, of 10 from 100, taken from the value before the press:
// 99 goes up to 100 and 100 goes down to 90.
Stepper perFolderStepper(std::int64_t current);

// The display-width stepper shows "no limit" as 0 and stores 0 as no limit.
std::int64_t displayWidth(const DeviceProfile& profile);
void setDisplayWidth(DeviceProfile& profile, std::int64_t value);

std::string nameMaxLabel(const DeviceProfile& profile);
std::string displayWidthLabel(const DeviceProfile& profile);
std::string perFolderLabel(const DeviceProfile& profile);

// Why the profile cannot be saved, or nothing when it may be: a missing name
// alone, otherwise every problem as "field: message" one a line. A profile
// without an id (blank counts as none) gets one when saved, so the id's own
// problem is passed over then.
std::optional<std::string> refusal(const DeviceProfile& profile);
// Whether the refusal shown names a field of the advanced group, which the
// sheet then opens, so that the field is on screen.
bool refusesAdvanced(const DeviceProfile& profile);
// The text shown when saving throws.
std::string saveFailure(const std::exception& error);

}  // namespace tarvik::ProfileEditorRules
