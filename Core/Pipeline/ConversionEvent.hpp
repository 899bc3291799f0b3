// What the export pipeline reports while it plans and converts: the step it
// is in, the counters of a run, the outcome of single tracks, messages for the
// user and the closing summary. Plain values, safe to copy across threads;
// the planning pass hands them to a callback, a run to its event stream.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"

namespace tarvik {

// Texts inside events compare under canonical equivalence, as the user reads them.
struct ConversionEvent {
    struct Phase {
        struct Scanning {
            bool operator==(const Scanning&) const = default;
        };
        // Tags of `done` of the `total` listed files have been read.
        struct Reading {
            std::int64_t done = 0;
            std::int64_t total = 0;
            bool operator==(const Reading&) const = default;
        };
        struct Planning {
            bool operator==(const Planning&) const = default;
        };
        // Album number `album` (from 1) of `albums`; `name` is "album artist / album".
        struct LookingUp {
            std::int64_t album = 0;
            std::int64_t albums = 0;
            std::string name;
            bool operator==(const LookingUp& other) const;
        };
        struct Converting {
            bool operator==(const Converting&) const = default;
        };
        struct Finishing {
            bool operator==(const Finishing&) const = default;
        };

        std::variant<Scanning, Reading, Planning, LookingUp, Converting, Finishing> value;

        bool operator==(const Phase&) const = default;
    };

    struct Track {
        // `path` is where the track lies below the destination, as the card
        // names it (levels found there keep their names; an album the card
        // moved to a numbered folder names that folder); for a track an
        // earlier card took, its planned path.
        struct Converted {
            std::string path;
            bool operator==(const Converted& other) const;
        };
        struct Skipped {
            std::string path;
            bool operator==(const Skipped& other) const;
        };
        // `source` is the track's file, or the music folder when the whole run failed.
        struct Failed {
            std::string source;
            std::string reason;
            bool operator==(const Failed& other) const;
        };
        // The catalogue lookup changed a record: before it, and what will be written.
        struct Renamed {
            TrackMeta oldMeta;
            TrackMeta newMeta;
            bool operator==(const Renamed&) const = default;
        };

        std::variant<Converted, Skipped, Failed, Renamed> value;

        bool operator==(const Track&) const = default;
    };

    // The counters of one run; the zero value is the start.
    struct Progress {
        std::int64_t done = 0;  // less the tracks of partly written albums removed again
        std::int64_t skipped = 0;
        std::int64_t failed = 0;
        std::int64_t duplicates = 0;
        std::int64_t total = 0;
        std::optional<std::int64_t> etaSeconds;  // absent until one item was converted

        bool operator==(const Progress&) const = default;
    };

    struct Notice {
        std::string text;  // Japanese, shown unchanged
        bool operator==(const Notice& other) const;
    };

    // Why a run stopped by itself: the destination went away (a card pulled)
    // or turned read-only (a card the system remounted after an error), the
    // card's music folder is a link (it would lead off the card), or the
    // music folder went away (deleted, or its drive pulled). Nothing more can
    // be written then, so the run ends as a stopped one.
    enum class Halt {
        none,
        destinationLost,
        destinationReadOnly,
        destinationLink,
        musicFolderLost
    };

    struct Summary {
        Progress progress;
        bool stopped = false;
        bool cardFull = false;
        std::int64_t renamed = 0;  // renamed events of the run's own planning
        // NFC relative paths on the card, as it names them, ascending by code point.
        std::vector<std::string> placed;
        Halt halt = Halt::none;
        // The placed tracks as the carry-over names them (CarryOver::entry:
        // album identity and planned path), ascending.
        std::vector<std::string> carried = {};

        // The songs that failed: what stopped the run counted as one failure,
        // and it is no song.
        std::int64_t songsFailed() const;

        bool operator==(const Summary& other) const;
    };

    std::variant<Phase, Progress, Track, Notice, Summary> value;

    bool operator==(const ConversionEvent&) const = default;

    static ConversionEvent scanning() { return {Phase{Phase::Scanning{}}}; }
    static ConversionEvent reading(std::int64_t done, std::int64_t total) {
        return {Phase{Phase::Reading{done, total}}};
    }
    static ConversionEvent planning() { return {Phase{Phase::Planning{}}}; }
    static ConversionEvent lookingUp(std::int64_t album, std::int64_t albums, std::string name) {
        return {Phase{Phase::LookingUp{album, albums, std::move(name)}}};
    }
    static ConversionEvent converting() { return {Phase{Phase::Converting{}}}; }
    static ConversionEvent finishing() { return {Phase{Phase::Finishing{}}}; }
    static ConversionEvent converted(std::string path) {
        return {Track{Track::Converted{std::move(path)}}};
    }
    static ConversionEvent skipped(std::string path) {
        return {Track{Track::Skipped{std::move(path)}}};
    }
    static ConversionEvent failed(std::string source, std::string reason) {
        return {Track{Track::Failed{std::move(source), std::move(reason)}}};
    }
    static ConversionEvent renamed(TrackMeta oldMeta, TrackMeta newMeta) {
        return {Track{Track::Renamed{std::move(oldMeta), std::move(newMeta)}}};
    }
    static ConversionEvent notice(std::string text) { return {Notice{std::move(text)}}; }
    static ConversionEvent finished(Summary summary) { return {std::move(summary)}; }

    // The payload when the event is of that case (Phase, Progress, Track,
    // Notice or Summary), else null.
    template <typename Case>
    const Case* as() const {
        return std::get_if<Case>(&value);
    }
    // The phase or track payload of that case, else null.
    template <typename Case>
    const Case* phaseAs() const {
        const Phase* phase = as<Phase>();
        return phase ? std::get_if<Case>(&phase->value) : nullptr;
    }
    template <typename Case>
    const Case* trackAs() const {
        const Track* track = as<Track>();
        return track ? std::get_if<Case>(&track->value) : nullptr;
    }
};

// Receives each event of a planning pass on the pass's own thread, one at a
// time, in order; it must not wait for anything the pass does.
using ProgressCallback = std::function<void(const ConversionEvent&)>;

}  // namespace tarvik
