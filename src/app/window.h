#pragma once

#include <string>
#include <string_view>

namespace pj {

// What the core may do to the window. Controls are named as in the layout table
// ("Label11", "Frame8", "Option1", "Command34", "Text1"). Geometry is in twips.
class Window {
  public:
    virtual ~Window() = default;

    virtual void setCaption(std::string_view control, std::string_view text) = 0;
    virtual std::string caption(std::string_view control) const = 0;

    virtual void setVisible(std::string_view control, bool visible) = 0;
    virtual bool visible(std::string_view control) const = 0;

    // Marks an option button as the selected one of its group. Raises no click.
    virtual void selectOption(std::string_view control) = 0;
    virtual bool optionSelected(std::string_view control) const = 0;

    // The text of a text box ("Text1").
    virtual std::string text(std::string_view control) const = 0;
    virtual void setText(std::string_view control, std::string_view text) = 0;

    // Outer height, caption bar and borders included.
    virtual void setHeight(int twips) = 0;
    virtual int height() const = 0;

    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    virtual void move(int left, int top) = 0;

    // A modal warning: exclamation icon, an OK button. Returns when the operator closed it.
    virtual void warningBox(std::string_view text, std::string_view title) = 0;

    // A short line about the port's state, kept in view without interrupting the operator;
    // empty text removes it.
    virtual void setPortNotice(std::string_view text) = 0;

    // Unloads the window; the program ends when it is gone.
    virtual void unload() = 0;
};

}  // namespace pj
