#pragma once
// What the main window's detail column shows beyond its steps, computed from
// the model alone so that it is tested without widgets: whether the carry-over
// banner and the log panel appear, the banner's text and its reset. GUI thread
// (the model's); never fails.
#include <cstddef>
#include <string>

namespace tarvik {

class AppModel;

namespace MainContent {

// An export that goes on onto a further card, with the songs earlier cards took.
bool showsCarryOver(const AppModel& model);
std::string carryOverText(std::size_t songs);
// "やめて最初から": forgets what earlier cards took, so the next export writes
// every chosen song again. Both settings are written at once.
void resetCarryOver(AppModel& model);

// Asked for through "ログを見る", or forced by any error line in the log.
bool showsLogPanel(const AppModel& model);

}  // namespace MainContent
}  // namespace tarvik
