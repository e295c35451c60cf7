// SPDX-License-Identifier: Apache-2.0
#include "app/recording_window.h"

#include "panel/layout.h"

namespace pj {

namespace {

std::size_t at(ControlId control) {
    return static_cast<std::size_t>(control);
}

// Option buttons form a group with the others in the same container.
ControlId groupOf(ControlId option) {
    const Control* control = findControl(option);
    return control == nullptr ? option : control->parent;
}

}  // namespace

void RecordingWindow::setCaption(ControlId control, std::string_view text) {
    captions_[at(control)] = std::string(text);
}

std::string RecordingWindow::caption(ControlId control) const {
    if (const auto& set = captions_[at(control)]) {
        return *set;
    }
    const Control* designed = findControl(control);
    return designed == nullptr ? std::string() : std::string(designed->caption);
}

void RecordingWindow::setVisible(ControlId control, bool visible) {
    visible_[at(control)] = visible;
}

bool RecordingWindow::visible(ControlId control) const {
    if (const auto& set = visible_[at(control)]) {
        return *set;
    }
    const Control* designed = findControl(control);
    return designed == nullptr || designed->visibleAtStart();
}

void RecordingWindow::selectOption(ControlId control) {
    selected_[at(groupOf(control))] = control;
}

bool RecordingWindow::optionSelected(ControlId control) const {
    if (const auto& set = selected_[at(groupOf(control))]) {
        return *set == control;
    }
    const Control* designed = findControl(control);
    return designed != nullptr && designed->selectedAtStart();
}

std::string RecordingWindow::text(ControlId control) const {
    return texts_[at(control)].value_or(std::string());
}

void RecordingWindow::setText(ControlId control, std::string_view text) {
    texts_[at(control)] = std::string(text);
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
