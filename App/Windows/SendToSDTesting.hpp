#pragma once
// Helpers for the send window's tests and pictures: a gate that holds a worker
// until the test opens it, the real card tools with a copy that waits at such a
// gate, and the window open on an export folder with a fixture card.
// Header-only; the gate is opened on the GUI thread and waited at on a worker.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QMimeData>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

#include "App/Testing/Gate.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDState.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// The real card tools, but the copy tells of the first album's first file and
// then waits at `gate` before it copies anything.
inline SendToSDState::Tools gatedTools(std::shared_ptr<Gate> gate) {
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.send = [gate, real = tools.send](const auto& albums, const auto& root,
                                           const auto& progress, std::stop_token stop) {
        const auto& first = albums.at(0).files;
        progress(0, static_cast<std::int64_t>(first.size()), first.at(0));
        gate->wait(stop);
        return real(albums, root, progress, stop);
    };
    return tools;
}

inline void writeAlbum(const std::filesystem::path& folder, int files, int bytesEach) {
    for (int index = 1; index <= files; ++index)
        writeFile(folder / ("0" + std::to_string(index) + ".mp3"), std::string(bytesEach, 'x'));
}

// The window on an export folder of three albums (Aoi/First 2 × 1000 bytes,
// Aoi/Second, Bob/Live 3 × 300 bytes) with a fixture card of `cardFree` bytes
// free, or none; the real card tools copy, each send waiting at `gate` once it
// has told of its first file.
struct SendFixture {
    TempDir temp;
    std::filesystem::path music = temp.path() / "Music";
    std::filesystem::path exports = temp.path() / "タルヴィク";
    std::filesystem::path card = temp.path() / "media" / "SD";
    ModelFixture f;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    int closes = 0;
    std::unique_ptr<SendToSDView> view;

    explicit SendFixture(std::optional<std::int64_t> cardFree = 1'000'000)
        : f([this](Settings& settings) {
              // The folders exist before the model checks its destination.
              std::filesystem::create_directories(music);
              std::filesystem::create_directories(card);
              writeAlbum(exports / "Aoi" / "First", 2, 1000);
              writeAlbum(exports / "Aoi" / "Second", 1, 500);
              writeAlbum(exports / "Bob" / "Live", 3, 300);
              settings.setString("srcPath", music.string());
              settings.setString("destPath", exports.string());
              settings.setString("sendSource", exports.string());
          }) {
        if (cardFree) {
            f.volumes->listAsCard(card);
            f.volumes->add(FixtureVolumes::card(card, *cardFree));
            model().refreshVolumes();
            f.settled();
        }
        view = std::make_unique<SendToSDView>(
            model(), [this] { ++closes; }, gatedTools(gate));
        view->resize(820, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        EXPECT_TRUE(waitUntil([this] {
            return state().albums().size() == 3 && !state().loading() &&
                   find<QTreeWidget>("albumTree")->topLevelItemCount() == 2;
        }));
    }

    AppModel& model() { return *f.model; }
    SendToSDState& state() { return view->state(); }
    template <typename T = QWidget>
    T* find(const char* name) {
        return child<T>(*view, name);
    }
    std::string text(const char* label) { return labelText(*view, label); }
    // Waits until the window shows the page of that name; whether it came.
    bool reaches(const char* page) {
        return waitUntil([&] {
            return find<QStackedWidget>("sendPages")->currentWidget()->objectName() == page;
        });
    }
    // The artist row named `id`, or the album row of that relative path (album names differ).
    QTreeWidgetItem* item(const std::string& id) {
        const QString name = QString::fromStdString(id.substr(id.rfind('/') + 1));
        const QList<QTreeWidgetItem*> found =
            find<QTreeWidget>("albumTree")->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        EXPECT_EQ(found.size(), 1) << id;
        return found.value(0);
    }
    void tick(const std::string& id) {
        item(id)->setCheckState(0, Qt::Checked);
        QApplication::processEvents();
    }
    // Drags `url` in and, unless `dropIt` is false, drops it; whether the window took it.
    bool drag(const QUrl& url, bool dropIt = true) {
        QMimeData mime;
        mime.setUrls({url});
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view.get(), &enter);
        if (!dropIt) return enter.isAccepted();
        QDropEvent dropped(QPointF(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &dropped);
        return dropped.isAccepted();
    }
    bool drop(const std::filesystem::path& path) {
        return drag(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    }

    // Bob/Live already on the card and Aoi/Second still being exported.
    void oneOnTheCardAndOneBeingWritten() {
        writeAlbum(card / "Bob" / "Live", 3, 300);
        state().refreshOnCard();
        AppModelTesting::setWritingFolders(model(), {"Aoi/Second"});
        EXPECT_TRUE(waitUntil([this] { return find("busyNotice")->isVisible(); }));
    }
    // Ticks the artist Aoi and the album Bob/Live and opens both artists.
    void tickAoiAndBobLive() {
        tick("Aoi");
        tick("Bob/Live");
        item("Aoi")->setExpanded(true);
        item("Bob")->setExpanded(true);
        EXPECT_TRUE(
            waitUntil([this] { return item("Bob/Live")->text(1).toStdString() == "SD にあり"; }));
    }
};

}  // namespace tarvik::testing
