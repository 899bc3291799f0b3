#include "App/Model/AppModel.hpp"

namespace tarvik {

void AppModel::appendLog(LogLine::Kind, const std::string&) {}
void AppModel::flushPendingLog() {}
void AppModel::startFlushTimer() {}
void AppModel::updateSystemLowLoad() {}
void AppModel::clearLog() {}

}  // namespace tarvik
