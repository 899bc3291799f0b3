#include "App/MainWindow/MainContent.hpp"

#include <algorithm>

#include "App/Model/AppModel.hpp"

namespace tarvik::MainContent {

bool showsCarryOver(const AppModel& model) {
    return model.continuing() && !model.carryOver().empty();
}

std::string carryOverText(std::size_t songs) {
    return "前のカードに入れた " + std::to_string(songs) +
           " 曲は飛ばして、残りを書き出します。新しい SD "
           "カード（または、ナビに取り込んで空にしたカード）を差してください。";
}

void resetCarryOver(AppModel& model) {
    model.setCarryOver({});
    model.setContinuing(false);
}

bool showsLogPanel(const AppModel& model) {
    if (model.showLog()) return true;
    return std::ranges::any_of(
        model.log(), [](const LogLine& line) { return line.kind == LogLine::Kind::error; });
}

}  // namespace tarvik::MainContent
