#include "ctl/headless_window.h"

#include <array>

namespace pj::ctl {

namespace {

// The option buttons that exclude one another: port, speed and projector address.
constexpr std::array<std::array<std::string_view, 6>, 3> kOptionGroups{{
    {"Option1", "Option2"},
    {"Option9", "Option10"},
    {"Option3", "Option4", "Option5", "Option6", "Option7", "Option8"},
}};

}  // namespace

void HeadlessWindow::setCaption(std::string_view control, std::string_view text) {
    captions_.insert_or_assign(std::string(control), std::string(text));
}

std::string HeadlessWindow::caption(std::string_view control) const {
    const auto it = captions_.find(control);
    return it == captions_.end() ? std::string() : it->second;
}

void HeadlessWindow::setVisible(std::string_view control, bool visible) {
    visible_.insert_or_assign(std::string(control), visible);
}

bool HeadlessWindow::visible(std::string_view control) const {
    const auto it = visible_.find(control);
    return it == visible_.end() || it->second;
}

void HeadlessWindow::selectOption(std::string_view control) {
    for (const auto& group : kOptionGroups) {
        for (const std::string_view option : group) {
            if (option == control) {
                for (const std::string_view other : group) {
                    if (!other.empty()) {
                        selected_.erase(std::string(other));
                    }
                }
            }
        }
    }
    selected_.insert(std::string(control));
}

bool HeadlessWindow::optionSelected(std::string_view control) const {
    return selected_.find(control) != selected_.end();
}

std::string HeadlessWindow::text(std::string_view control) const {
    const auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void HeadlessWindow::setText(std::string_view control, std::string_view text) {
    texts_.insert_or_assign(std::string(control), std::string(text));
}

void HeadlessWindow::warningBox(std::string_view text, std::string_view /*title*/) {
    warnings_.emplace_back(text);
}

void HeadlessWindow::setPortNotice(std::string_view text) {
    portNotice_ = text;
    if (onPortNotice_) {
        onPortNotice_();
    }
}

}  // namespace pj::ctl
