#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "app/form_events.h"
#include "app/window.h"

namespace pj {

struct Control;

// The panel window: every widget built from the layout table, the core's window operations
// carried out on them, and their events handed to the core by control name.
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

    // The widget of a layout control, or null for an unknown name.
    QWidget* control(std::string_view name) const;

    using QWidget::setVisible;

    void setCaption(std::string_view control, std::string_view text) override;
    std::string caption(std::string_view control) const override;
    void setVisible(std::string_view control, bool visible) override;
    bool visible(std::string_view control) const override;
    void selectOption(std::string_view control) override;
    bool optionSelected(std::string_view control) const override;
    std::string text(std::string_view control) const override;
    void setText(std::string_view control, std::string_view text) override;
    void setHeight(int twips) override;
    int height() const override;
    int screenWidth() const override;
    int screenHeight() const override;
    void move(int left, int top) override;
    void warningBox(std::string_view text, std::string_view title) override;
    void setPortNotice(std::string_view text) override;
    void unload() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Entry {
        const Control* row;
        QWidget* widget;
        std::string caption;  // as last set, byte for byte
    };

    class KeyPreview;

    void build();
    void buildControl(const Control& row, QWidget* parent);
    void applyTabOrder();
    const Entry* entry(std::string_view name) const;
    Entry* entry(std::string_view name);
    // The name of the layout control a widget stands for; empty for other widgets.
    std::string_view nameOf(const QObject* object) const;
    void previewKey(QObject* receiver, QEvent* event);

    FormEvents* events_ = nullptr;
    WarningHook warningHook_;
    std::unordered_map<std::string_view, Entry> entries_;
    std::unordered_map<const QObject*, std::string_view> names_;
    std::unique_ptr<KeyPreview> keyPreview_;
    int outerHeight_ = 0;
};

}  // namespace pj
