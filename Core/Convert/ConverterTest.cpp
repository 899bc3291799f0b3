#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Convert/Converter.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Regex.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Locale.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

using Arguments = std::vector<std::string>;

// The real ffmpeg, with every argument list it was given kept for the test.
// It can also answer the loudness pass with a run that prints no summary.
class RecordingRunner : public FFmpegRunner {
public:
    explicit RecordingRunner(bool hideLoudnessSummary = false)
        : FFmpegRunner("/usr/bin/ffmpeg"), hideLoudnessSummary_(hideLoudnessSummary) {}

    Output runRaw(const Arguments& arguments, const std::optional<Bytes>& input,
                  std::stop_token stop) const override {
        bool loudnessPass = false;
        for (const std::string& argument : arguments) {
            loudnessPass = loudnessPass || argument.starts_with("ebur128");
        }
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(arguments);
            // The conversion's folder, seen while it is in use.
            if (!arguments.empty() && arguments.back().ends_with(".part")) {
                workFolders_.push_back(fs::path(arguments.back()).parent_path());
                struct stat info {};
                ::stat(workFolders_.back().c_str(), &info);
                workFolderModes_.push_back(info.st_mode & 07777);
            }
        }
        if (loudnessPass && hideLoudnessSummary_) return Output{0, {}, "no summary here\n"};
        return FFmpegRunner::runRaw(arguments, input, std::move(stop));
    }

    std::vector<Arguments> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<fs::path> workFolders() const {
        std::lock_guard lock(mutex_);
        return workFolders_;
    }
    std::vector<mode_t> workFolderModes() const {
        std::lock_guard lock(mutex_);
        return workFolderModes_;
    }
    // The runs whose arguments hold `word`.
    std::vector<Arguments> callsWith(std::string_view word) const {
        std::vector<Arguments> found;
        for (const Arguments& call : calls()) {
            if (std::find(call.begin(), call.end(), word) != call.end()) found.push_back(call);
        }
        return found;
    }

private:
    bool hideLoudnessSummary_;
    mutable std::mutex mutex_;  // guards calls_, workFolders_ and workFolderModes_
    mutable std::vector<Arguments> calls_;
    mutable std::vector<fs::path> workFolders_;
    mutable std::vector<mode_t> workFolderModes_;
};

std::string after(const Arguments& arguments, std::string_view option) {
    auto it = std::find(arguments.begin(), arguments.end(), option);
    return it == arguments.end() || it + 1 == arguments.end() ? "" : *(it + 1);
}

DeviceProfile deliveredProfile(std::string_view id) {
    return ProfileStore::load(
        fs::path(TARVIK_SOURCE_DIR) / "App/Resources/profiles" / (std::string(id) + ".json"), true);
}

const TrackMeta someMeta{"タイトル", "歌手", "Various", "アルバム", "3", "1", "2019", "J-Pop"};

json readJSON(const std::vector<std::string>& command) {
    testing::ShellResult result = testing::runCommand(command);
    EXPECT_EQ(result.exitCode, 0) << command.front();
    return json::parse(result.output);
}

json streamsOf(const fs::path& file) {
    return readJSON({"ffprobe", "-v", "error", "-show_entries",
                     "stream=codec_name,codec_type,sample_rate,channels,bit_rate,width:"
                     "stream_disposition=attached_pic",
                     "-of", "json", file.string()})
        .at("streams");
}

// Integrated loudness as ffmpeg's own filter reports it through its metadata
// print, independent of the converter's summary parser.
double integratedLoudness(const fs::path& file, const fs::path& report) {
    testing::runCommand(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-i", file.string(), "-af",
         "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=" + report.string(), "-f",
         "null", "-"});
    const std::string text = readFile(report);
    const std::size_t last = text.rfind("lavfi.r128.I=");
    return last == std::string::npos ? 0.0 : std::stod(text.substr(last + 13));
}

class ConverterTest : public ::testing::Test {
protected:
    // TMPDIR points into the test's own folder, so that every temporary
    // folder a conversion leaves behind can be seen.
    void SetUp() override {
        fs::create_directories(tmp);
        if (const char* previous = ::getenv("TMPDIR")) previousTMPDIR = previous;
        ::setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override {
        if (previousTMPDIR) {
            ::setenv("TMPDIR", previousTMPDIR->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    // "tarvik-*" folders in the temporary directory and ".part" files on the card.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(tmp)) {
            if (entry.path().filename().string().starts_with("tarvik-")) {
                found.push_back(entry.path().string());
            }
        }
        if (fs::exists(card)) {
            for (const auto& entry : fs::recursive_directory_iterator(card)) {
                if (entry.path().extension() == ".part") found.push_back(entry.path().string());
            }
        }
        return found;
    }

    fs::path tone(std::string_view name, testing::ToneOptions options = {.seconds = 2}) const {
        options.metadata = {{"title", "source title"}, {"artist", "source artist"}};
        const fs::path path = temp / "library" / name;
        testing::makeTone(path, options);
        return path;
    }

    TempDir temp;
    fs::path tmp = temp / "tmp";
    fs::path card = temp / "card";
    std::optional<std::string> previousTMPDIR;
};

TEST_F(ConverterTest, GenericProfileMakesAnMP3WithItsEightTags) {
    const fs::path destination = card / "MUSIC" / "歌手" / "アルバム" / "03 タイトル.mp3";
    writeFile(destination, "an older file in the way");
    auto runner = std::make_shared<RecordingRunner>();
    Converter converter(runner, deliveredProfile("generic-mp3"));
    converter.convert({tone("01.flac"), destination, someMeta}, {});

    // Its own folder in the temporary directory, readable by this user only.
    ASSERT_EQ(runner->workFolders().size(), 1u);
    EXPECT_EQ(runner->workFolders()[0].parent_path(), tmp);
    EXPECT_EQ(runner->workFolderModes(), std::vector<mode_t>{0700});

    const json streams = streamsOf(destination);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_name"), "mp3");
    EXPECT_EQ(streams[0].at("sample_rate"), "44100");
    EXPECT_EQ(streams[0].at("channels"), 2);
    EXPECT_EQ(streams[0].at("bit_rate"), "192000");
    const json tags =
        readJSON({testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_read.py",
                  destination.string()});
    EXPECT_EQ(tags.at("version"), "2.3");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"title", "タイトル"},      {"artist", "歌手"}, {"album", "アルバム"},
        {"albumArtist", "Various"}, {"track", "3"},     {"disc", "1"},
        {"year", "2019"},           {"genre", "J-Pop"}};
    for (const auto& [field, value] : expected) EXPECT_EQ(tags.value(field, ""), value) << field;
    EXPECT_FALSE(tags.contains("picture"));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ConverterTest, AACProfileMakesAnM4AWithTagsAndAScaledCover) {
    const DeviceProfile profile = deliveredProfile("aac-m4a");
    testing::makePicture(temp / "cover.png", 1000, 750);
    const std::string png = readFile(temp / "cover.png");
    auto runner = std::make_shared<RecordingRunner>();
    const auto cover = ArtworkExtractor{runner}.scale(Bytes(png.begin(), png.end()),
                                                      profile.tags.artwork.maxPx, {});
    ASSERT_TRUE(cover);
    Converter converter(runner, profile);
    const fs::path destination = card / "MUSIC" / "歌手" / "アルバム" / "03 タイトル.m4a";
    converter.convert({tone("01.flac"), destination, someMeta, cover}, {});

    const json streams = streamsOf(destination);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "aac");
    EXPECT_EQ(streams[0].at("sample_rate"), "44100");
    EXPECT_EQ(streams[0].at("channels"), 2);
    EXPECT_EQ(streams[1].at("codec_name"), "mjpeg");
    EXPECT_EQ(streams[1].at("disposition").at("attached_pic"), 1);
    EXPECT_LE(streams[1].at("width").get<int>(), profile.tags.artwork.maxPx);
    const json tags =
        readJSON({testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/mp4_read.py",
                  destination.string()});
    // The picture is re-encoded on the way in, so only its kind is compared.
    EXPECT_EQ(tags.at("cover").at("format"), "jpeg");
    EXPECT_EQ(tags, json::parse(R"({"title": "タイトル", "artist": "歌手", "album": "アルバム",
        "albumArtist": "Various", "track": "3", "disc": "1", "date": "2019", "genre": "J-Pop",
        "cover": )" + tags.at("cover").dump() +
                                "}"));

    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ConverterTest, MP3TagLayoutFollowsTheProfile) {
    using Format = DeviceProfile::Tags::Format;
    testing::makePicture(temp / "cover.jpg", 64, 64);
    const std::string jpeg = readFile(temp / "cover.jpg");
    struct Case {
        Format format;
        bool id3v1;
        bool artwork;
        std::string head;  // the first four bytes, "" for a bare MP3 frame
        bool trailer;
    };
    const std::vector<Case> cases = {
        {Format::id3v2_3, false, false, "ID3\x03", false},
        {Format::id3v2_4, true, false, "ID3\x04", true},
        {Format::id3v1, false, false, "", true},
        {Format::mp4, false, true, "ID3\x03", false},
    };
    const fs::path source = tone("01.flac", {.seconds = 1});
    for (const Case& test : cases) {
        DeviceProfile profile("test", "test");
        profile.tags.format = test.format;
        profile.tags.id3v1 = test.id3v1;
        profile.tags.artwork.enabled = test.artwork;
        const fs::path destination = card / (rawValue(test.format) + ".mp3");
        Converter(std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg"), profile)
            .convert({source, destination, someMeta, Bytes(jpeg.begin(), jpeg.end())}, {});

        const std::string file = readFile(destination);
        const std::string name = rawValue(test.format);
        ASSERT_GT(file.size(), 1000u) << name;
        if (test.head.empty()) {
            EXPECT_EQ(static_cast<unsigned char>(file[0]), 0xFF) << name;  // frame sync
        } else {
            EXPECT_EQ(file.substr(0, 4), test.head) << name;
        }
        const std::string tail = file.substr(file.size() - 128);
        EXPECT_EQ(tail.starts_with("TAG"), test.trailer) << name;
        if (test.trailer) {
            EXPECT_EQ(tail[125], '\0') << name;  // ID3v1.1: the track in the last comment byte
            EXPECT_EQ(tail[126], '\x03') << name;
        }
        if (!test.head.empty()) {
            const json tags = readJSON({testing::systemPython,
                                        TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_read.py",
                                        destination.string()});
            EXPECT_EQ(tags.value("title", ""), "タイトル") << name;
            EXPECT_EQ(tags.contains("picture"), test.artwork) << name;
        }
    }
}

// "Two 〜夢〜" once reached the unit as "Two ?夢?": each JIS form must go in
// as the code page 932 character the unit shows in its place.
TEST_F(ConverterTest, ShiftJISTagsCarryTheCP932TwinsOfJISForms) {
    TrackMeta meta = someMeta;
    meta.title = "Two \u301C\u5922\u301C";
    meta.artist = "A\u2014B\u2212C\u00A51\u00A2\u00AC\u2016\u00A3";
    const fs::path destination = card / "twins.mp3";
    Converter(std::make_shared<RecordingRunner>(), deliveredProfile("panasonic-hds940d"))
        .convert({tone("01.flac", {.seconds = 1}), destination, meta}, {});
    // Frames with encoding byte 0 read back as ISO-8859-1: the code points are the bytes.
    const json tags =
        readJSON({testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/id3_read.py",
                  destination.string()});
    EXPECT_EQ(tags.at("titleEncoding"), 0);
    EXPECT_EQ(text::toLatin1(tags.at("title").get<std::string>()),
              (Bytes{'T', 'w', 'o', ' ', 0x81, 0x60, 0x96, 0xB2, 0x81, 0x60}));
    EXPECT_EQ(text::toLatin1(tags.at("artist").get<std::string>()),
              (Bytes{'A', 0x81, 0x5C, 'B', 0x81, 0x7C, 'C', 0x81, 0x8F, '1', 0x81, 0x91, 0x81, 0xCA,
                     0x81, 0x61, 0x81, 0x92}));
}

// Run under a comma-decimal locale where one is installed: the gain must
// still reach ffmpeg as "volume=17.80dB", not "volume=17,80dB".
TEST_F(ConverterTest, LevelsQuietAndLoudSourcesToTheTarget) {
    testing::CommaDecimalLocale locale;
    if (!locale.active()) std::cout << "no comma-decimal locale: running under the C locale\n";
    static const Regex gainText(R"(volume=-?[0-9]+\.[0-9]{2}dB)");
    struct Case {
        std::string name;
        double volumeDB;
    };
    for (const Case& test : std::vector<Case>{{"quiet", -10}, {"loud", 15}}) {
        auto runner = std::make_shared<RecordingRunner>();
        Converter converter(runner, deliveredProfile("generic-mp3"));
        const fs::path destination = card / (test.name + ".mp3");
        converter.convert({tone(test.name + ".flac", {.seconds = 4, .volumeDB = test.volumeDB}),
                           destination, someMeta, std::nullopt, -14.0},
                          {});
        const std::vector<Arguments> encodings = runner->callsWith("libmp3lame");
        ASSERT_EQ(encodings.size(), 1u);
        EXPECT_TRUE(gainText.matchesWhole(after(encodings[0], "-af")))
            << after(encodings[0], "-af");
        EXPECT_NEAR(integratedLoudness(destination, temp / (test.name + ".txt")), -14.0, 1.0)
            << test.name;
    }
}

TEST_F(ConverterTest, UnreadableLoudnessSummaryConvertsWithoutGain) {
    auto runner = std::make_shared<RecordingRunner>(true);
    Converter converter(runner, deliveredProfile("generic-mp3"));
    converter.convert({tone("01.flac"), card / "01.mp3", someMeta, std::nullopt, -14.0}, {});
    EXPECT_EQ(runner->callsWith("null").size(), 1u);
    EXPECT_EQ(after(runner->callsWith("libmp3lame").at(0), "-af"), "anull");
    EXPECT_TRUE(fs::exists(card / "01.mp3"));
}

TEST_F(ConverterTest, BlankOrUnreadableSourceFailsBeforeAnythingIsMade) {
    writeFile(temp / "library" / "empty.flac", "");
    writeFile(temp / "library" / "zeros.flac", std::string(8192, '\0'));
    fs::create_directories(temp / "library" / "folder.flac");
    // A pipe put in place of a source after planning: refused at once, not
    // waited on in open().
    ASSERT_EQ(::mkfifo((temp / "library" / "fifo.flac").c_str(), 0600), 0);
    const std::string blank(Converter::blankSourceMessage);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty.flac", blank},
        {"zeros.flac", blank},
        {"missing.flac", "読み込めません: missing.flac（No such file or directory）"},
        {"folder.flac", "読み込めません: folder.flac（ファイルではありません）"},
        {"fifo.flac", "読み込めません: fifo.flac（ファイルではありません）"},
    };
    auto runner = std::make_shared<RecordingRunner>();
    Converter converter(runner, deliveredProfile("generic-mp3"));
    for (const auto& [name, message] : cases) {
        try {
            converter.convert({temp / "library" / name, card / "out.mp3", someMeta}, {});
            ADD_FAILURE() << name << ": no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), message) << name;
        }
    }
    EXPECT_TRUE(runner->calls().empty());
    EXPECT_FALSE(fs::exists(card));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ConverterTest, NothingIsLeftBehindOnAnyWayOut) {
    const fs::path good = tone("good.flac", {.seconds = 1});
    writeFile(temp / "library" / "text.flac", "not audio at all\n");
    const fs::path ffmpeg = "/usr/bin/ffmpeg";
    const fs::path sleeper = testing::writeScript(temp / "sleeper", "exec sleep 30");
    writeFile(card / "blocked", "a file where a folder should be");
    struct Case {
        std::string name;
        fs::path program;
        fs::path source;
        std::string destination;
        bool stopBefore;
        bool stopDuring;
        std::string failure;  // the type of error, empty for success
        std::optional<double> loudnessTarget = -14.0;
    };
    const std::vector<Case> cases = {
        {"success", ffmpeg, good, "done.mp3", false, false, ""},
        {"ffmpeg fails", ffmpeg, temp / "library" / "text.flac", "old.mp3", false, false,
         "FFmpegError"},
        {"cancelled before", ffmpeg, good, "old.mp3", true, false, "Cancelled"},
        {"cancelled while measuring", sleeper, good, "old.mp3", false, true, "Cancelled"},
        {"cancelled while encoding", sleeper, good, "old.mp3", false, true, "Cancelled",
         std::nullopt},
        {"card folder blocked", ffmpeg, good, "blocked/x.mp3", false, false, "ConversionError"},
    };
    for (const Case& test : cases) {
        writeFile(card / "old.mp3", "old");
        std::stop_source stop;
        if (test.stopBefore) stop.request_stop();
        std::jthread canceller;
        if (test.stopDuring) {
            canceller = std::jthread([&stop] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop.request_stop();
            });
        }
        Converter converter(std::make_shared<FFmpegRunner>(test.program),
                            deliveredProfile("generic-mp3"));
        std::string failure;
        try {
            converter.convert(
                {test.source, card / test.destination, someMeta, std::nullopt, test.loudnessTarget},
                stop.get_token());
        } catch (const FFmpegError&) {
            failure = "FFmpegError";
        } catch (const Cancelled&) {
            failure = "Cancelled";
        } catch (const ConversionError&) {
            failure = "ConversionError";
        }
        EXPECT_EQ(failure, test.failure) << test.name;
        EXPECT_EQ(readFile(card / "old.mp3"), "old") << test.name;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << test.name;
    }
}

// A killed program leaves its folders behind; the next converter removes
// those that no living process holds and that are not brand new.
TEST_F(ConverterTest, FoldersOfProcessesThatNoLongerLiveAreRemoved) {
    const auto old = fs::file_time_type::clock::now() - 2 * Converter::abandonedAfter;
    const std::string abandoned = "tarvik-0A1B2C3D-0000-4000-8000-00000000000A";
    const std::string held = "tarvik-0A1B2C3D-0000-4000-8000-00000000000B";
    const std::string fresh = "tarvik-0A1B2C3D-0000-4000-8000-00000000000C";
    // Another program's folder and a test's own folder share the prefix only.
    for (const std::string& name : {abandoned, held, fresh, std::string("other-old"),
                                    std::string("tarvik-test-Xy12Ab")}) {
        writeFile(tmp / name / "out.part", "x");
        if (name != fresh) fs::last_write_time(tmp / name, old);
    }
    // A lock on another open of the folder stands for a living conversion.
    const int lock = ::open((tmp / held).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    Converter converter(std::make_shared<RecordingRunner>(), deliveredProfile("generic-mp3"));
    ::close(lock);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(tmp)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"other-old", held, fresh, "tarvik-test-Xy12Ab"}));
}

// An M4A whose sound track lists no samples: it has a stream, and ffmpeg
// decodes nothing from it and still succeeds.
fs::path m4aWithoutAudioFrames(const fs::path& path) {
    testing::makeTone(path, {.seconds = 1});
    std::string bytes = readFile(path);
    // The sample tables' entry counts (and the fixed sample size) become zero;
    // the tables keep their length.
    for (const std::string_view box : {"stsz", "stts", "stsc", "stco"}) {
        const std::size_t at = bytes.find(box);
        if (at == std::string::npos) throw std::runtime_error("no " + std::string(box));
        bytes.replace(at + 8, box == "stsz" ? 8 : 4, box == "stsz" ? 8 : 4, '\0');
    }
    writeFile(path, bytes);
    return path;
}

TEST_F(ConverterTest, SourceWhoseAudioDecodesToNothingFailsAndPlacesNothing) {
    const fs::path noFrames = m4aWithoutAudioFrames(temp / "library" / "no-audio-frames.m4a");
    // A WAV file with its header and tags but an empty data chunk.
    const fs::path noSamples = tone("no-samples.wav", {.extraArguments = {"-t", "0"}});
    for (const char* profile : {"generic-mp3", "aac-m4a"}) {
        Converter converter(std::make_shared<RecordingRunner>(), deliveredProfile(profile));
        for (const fs::path& source : {noFrames, noSamples}) {
            const fs::path destination = card / "out.bin";
            try {
                converter.convert({source, destination, someMeta}, {});
                ADD_FAILURE() << profile << ", " << source << ": no error";
            } catch (const ConversionError& error) {
                EXPECT_EQ(error.description(),
                          "音声が入っていません: " + source.filename().string())
                    << profile;
            }
            EXPECT_FALSE(fs::exists(destination)) << profile << ", " << source;
        }
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// The source's chapters would point into a track the output does not have.
TEST_F(ConverterTest, OutputsCarryNoChapters) {
    writeFile(temp / "chapters.txt",
              ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n");
    const fs::path plain = tone("plain.m4a");
    const fs::path source = temp / "library" / "chapters.m4a";
    ASSERT_EQ(testing::runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", plain.string(),
                                   "-i", (temp / "chapters.txt").string(), "-map", "0",
                                   "-map_chapters", "1", "-c", "copy", source.string()})
                  .exitCode,
              0);
    ASSERT_EQ(readJSON({"ffprobe", "-v", "error", "-show_chapters", "-of", "json", source.string()})
                  .at("chapters")
                  .size(),
              2u);
    for (const char* profile : {"generic-mp3", "aac-m4a"}) {
        const fs::path destination = card / (std::string("out.") + profile);
        Converter(std::make_shared<RecordingRunner>(), deliveredProfile(profile))
            .convert({source, destination, someMeta}, {});
        EXPECT_EQ(readJSON({"ffprobe", "-v", "error", "-show_chapters", "-of", "json",
                            destination.string()})
                      .at("chapters"),
                  json::array())
            << profile;
    }
}

TEST_F(ConverterTest, ParallelConversionsShareOneConverter) {
    auto runner = std::make_shared<RecordingRunner>();
    Converter converter(runner, deliveredProfile("aac-m4a"));
    std::vector<fs::path> sources;
    for (int i = 0; i < 4; ++i)
        sources.push_back(tone(std::to_string(i) + ".flac", {.seconds = 1}));
    {
        std::vector<std::jthread> workers;
        for (int i = 0; i < 4; ++i) {
            workers.emplace_back([&, i] {
                converter.convert({sources[i], card / (std::to_string(i) + ".m4a"), someMeta}, {});
            });
        }
    }
    for (int i = 0; i < 4; ++i) {
        const json streams = streamsOf(card / (std::to_string(i) + ".m4a"));
        ASSERT_EQ(streams.size(), 1u) << i;
        EXPECT_EQ(streams[0].at("codec_name"), "aac") << i;
    }
    const std::size_t probes = runner->callsWith("aac_at").size();
    EXPECT_GE(probes, 1u);
    EXPECT_LE(probes, 4u);
    EXPECT_EQ(converter.aacEncoderName({}), "aac");
    EXPECT_EQ(runner->callsWith("aac_at").size(), probes);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarvik
