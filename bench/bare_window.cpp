// SPDX-License-Identifier: Apache-2.0
// pjbarewindow: the floor for the panel's start-up and memory. A Qt application that shows
// one empty window of the given size and waits, as the panel does, until it is closed.
//
//   pjbarewindow WIDTH HEIGHT [--text]
//
// With --text the window also shows two lines of text, one in each of the two typefaces the
// panel asks for (proportional and fixed-pitch Gothic), so that the font system is loaded
// as it is in the panel: a second floor that tells how much of the panel's cost is text.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QLabel* line(const QString& text, const QStringList& families, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(13);
    label->setFont(font);
    return label;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const bool text = args.size() == 4 && args[3] == QStringLiteral("--text");
    bool widthOk = false;
    bool heightOk = false;
    const int width = args.size() == 3 || text ? args[1].toInt(&widthOk) : 0;
    const int height = args.size() == 3 || text ? args[2].toInt(&heightOk) : 0;
    if (!widthOk || !heightOk || width <= 0 || height <= 0) {
        qWarning("usage: pjbarewindow WIDTH HEIGHT [--text]");
        return 2;
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("pjbarewindow"));
    window.setFixedSize(width, height);
    if (text) {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(line(QStringLiteral("POWER  ON  OFF  INPUT  ZOOM  FOCUS"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("DejaVu Sans")},
                               &window));
        layout->addWidget(line(QStringLiteral(" A 0 0 1 C 0 0 CR "),
                               {QStringLiteral("IPAGothic"), QStringLiteral("DejaVu Sans Mono")},
                               &window));
    }
    window.show();
    return QApplication::exec();
}
