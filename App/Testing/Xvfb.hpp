#pragma once
// An X server of its own for a test that starts the real program, so that it
// never draws on the developer's screen: Xvfb takes the first display that no
// other server holds (it tells which on its output, "-displayfd"), so that
// tests running side by side never share one; started with the object and
// stopped with it. Test thread only; when none would start, `display` stays
// empty and the test says so.
#include <QProcess>
#include <string>

#include "App/Testing/AppTesting.hpp"

namespace tarvik::testing {

struct Xvfb {
    QProcess server;
    std::string display;

    Xvfb() {
        // Xvfb claims a display by its lock file and only then names it, so
        // two servers started at once never both take one number; a check of
        // the socket beforehand would race the other test's server.
        server.start("Xvfb",
                     {"-displayfd", "1", "-screen", "0", "1280x860x24", "-nolisten", "tcp"});
        QByteArray named;
        const bool told = waitUntil(
            [&] {
                server.waitForReadyRead(10);
                named += server.readAllStandardOutput();
                return named.contains('\n') || server.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(30));
        if (told && named.contains('\n') && server.state() == QProcess::Running) {
            display = ":" + named.left(named.indexOf('\n')).trimmed().toStdString();
        } else {
            server.kill();
            server.waitForFinished();
        }
    }
    ~Xvfb() {
        server.terminate();
        server.waitForFinished(5000);  // else QProcess kills it on the way out
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
};

}  // namespace tarvik::testing
