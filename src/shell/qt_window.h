// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/form_events.h"
#include "core/window.h"

namespace pj {

struct Control;

// The panel window: every widget built from the layout table, the core's window operations
// carried out on them, and their events handed to the core by control.
class QtWindow : public QWidget, public Window {
    Q_OBJECT

  public:
    // Shows a modal warning; replaceable so that nothing blocks under test.
    using WarningHook = std::function<void(std::string_view text, std::string_view title)>;

    explicit QtWindow(QWidget* parent = nullptr);
    ~QtWindow() override;

    // Where clicks, presses, releases, key presses and the double-click go. May be null.
    void setEvents(FormEvents* events);
    // An empty hook brings back the standard message box.
    void setWarningHook(WarningHook hook);

    // The widget of a layout control.
    QWidget* control(ControlId id) const;

    // Which device each port is, shown as the tooltip of its option button (COM1, COM2).
    void setPortDevices(const std::array<std::string, 2>& descriptions);

    using QWidget::setVisible;

    void setCaption(ControlId control, std::string_view text) override;
    void setVisible(ControlId control, bool visible) override;
    void selectOption(ControlId control) override;
    void setText(ControlId control, std::string_view text) override;
    void setHeight(int twips) override;
    int screenWidth() const override;
    int screenHeight() const override;
    void move(int left, int top) override;
    void warningBox(std::string_view text, std::string_view title) override;
    void setPortNotice(std::string_view text) override;
    void unload() override;

    // What the window shows now, for those who look at it from outside.
    std::string caption(ControlId control) const;
    bool visible(ControlId control) const;
    bool optionSelected(ControlId control) const;
    std::string text(ControlId control) const;
    int height() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        const Control* row = nullptr;
        QWidget* widget = nullptr;
        std::string caption;  // as last set, byte for byte
    };

    class KeyPreview;

    void build();
    void buildControl(const Control& row, QWidget* parent);
    void applyTabOrder();
    const Entry* entry(ControlId id) const;
    Entry* entry(ControlId id);
    // The layout control a widget stands for; nothing for other widgets.
    std::optional<ControlId> idOf(const QObject* object) const;
    void previewKey(QObject* receiver, QEvent* event);

    FormEvents* events_ = nullptr;
    WarningHook warningHook_;
    std::array<Entry, kControlCount> entries_;
    std::unordered_map<const QObject*, ControlId> ids_;
    std::unique_ptr<KeyPreview> keyPreview_;
    int outerHeight_ = 0;
};

}  // namespace pj
