#include "app/recording_window.h"

#include "panel/layout.h"

namespace pj {

namespace {

// Option buttons form a group with the others in the same container.
std::string_view groupOf(std::string_view option) {
    const Control* control = findControl(option);
    return control == nullptr ? option : control->parent;
}

}  // namespace

void RecordingWindow::setCaption(std::string_view control, std::string_view text) {
    captions_.insert_or_assign(std::string(control), std::string(text));
}

std::string RecordingWindow::caption(std::string_view control) const {
    if (const auto it = captions_.find(control); it != captions_.end()) {
        return it->second;
    }
    const Control* designed = findControl(control);
    return designed == nullptr ? std::string() : std::string(designed->caption);
}

void RecordingWindow::setVisible(std::string_view control, bool visible) {
    visible_.insert_or_assign(std::string(control), visible);
}

bool RecordingWindow::visible(std::string_view control) const {
    if (const auto it = visible_.find(control); it != visible_.end()) {
        return it->second;
    }
    const Control* designed = findControl(control);
    return designed == nullptr || designed->visibleAtStart();
}

void RecordingWindow::selectOption(std::string_view control) {
    selected_.insert_or_assign(std::string(groupOf(control)), std::string(control));
}

bool RecordingWindow::optionSelected(std::string_view control) const {
    if (const auto it = selected_.find(groupOf(control)); it != selected_.end()) {
        return it->second == control;
    }
    const Control* designed = findControl(control);
    return designed != nullptr && designed->selectedAtStart();
}

std::string RecordingWindow::text(std::string_view control) const {
    const auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void RecordingWindow::setText(std::string_view control, std::string_view text) {
    texts_.insert_or_assign(std::string(control), std::string(text));
}

void RecordingWindow::move(int l, int t) {
    left = l;
    top = t;
}

void RecordingWindow::warningBox(std::string_view text, std::string_view title) {
    boxes.push_back({std::string(text), std::string(title)});
    if (onBox) {
        onBox();
    }
}

void RecordingWindow::setPortNotice(std::string_view text) {
    portNotice = text;
    if (onPortNotice) {
        onPortNotice();
    }
}

}  // namespace pj
