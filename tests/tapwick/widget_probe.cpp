// A probe linked into the app that the desktop test runs: when TAPWICK_PROBE_FILE names a file,
// it writes there, ten times a second, every visible window and every visible widget that shows
// text or takes input: its class, object name, text, place on the screen, size hint and whether
// its text is shown whole (not squeezed below what it needs, not cut by a parent's edge).
//   {"windows": [{"name": "popover", "title": "Tapwick", "x": .., "y": .., "w": .., "h": ..}],
//    "widgets": [{"window": "popover", "name": "generatedCode", "class": "QLabel",
//                 "text": "A2B8E1A5", "x": .., "w": .., "hintW": .., "whole": true}, ...]}
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTabBar>
#include <QTimer>
#include <QWidget>

namespace {

// Whether every ancestor up to the window holds the widget's whole rectangle.
bool insideItsParents(const QWidget* widget) {
  QRect rect = widget->rect();
  for (const QWidget* child = widget; !child->isWindow(); child = child->parentWidget()) {
    rect.translate(child->pos());
    if (!child->parentWidget()->rect().contains(rect)) return false;
  }
  return true;
}

bool labelFits(const QLabel* label) {
  if (label->text().isEmpty() || !label->pixmap().isNull()) return true;
  if (!label->wordWrap()) {
    return label->width() >= label->sizeHint().width() &&
           label->height() >= label->sizeHint().height();
  }
  // A wrapped label needs the height for its width, and room for its longest word.
  const QFontMetrics metrics(label->font());
  const int room = label->contentsRect().width() - 2 * label->margin();
  for (const QString& word : label->text().split(QRegularExpression("\\s+"))) {
    if (metrics.horizontalAdvance(word) > room) return false;
  }
  return label->height() >= label->heightForWidth(label->width());
}

bool tabsFit(const QTabBar* tabs) {
  for (int i = 0; i < tabs->count(); ++i) {
    const QFontMetrics metrics(tabs->font());
    if (tabs->tabRect(i).width() < metrics.horizontalAdvance(tabs->tabText(i))) return false;
  }
  return true;
}

// The text the widget shows, and whether its own size holds it; nothing for other widgets.
std::optional<std::pair<QString, bool>> shown(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    return std::make_pair(label->text(), labelFits(label));
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return std::make_pair(button->text(), button->width() >= button->sizeHint().width() &&
                                              button->height() >= button->sizeHint().height());
  }
  if (const auto* field = qobject_cast<const QLineEdit*>(widget)) {
    const QString text = field->text().isEmpty() ? field->placeholderText() : field->text();
    // Typed text may scroll; the placeholder must show whole.
    const bool fits = !field->text().isEmpty() ||
                      QFontMetrics(field->font()).horizontalAdvance(text) + 8 <= field->width();
    return std::make_pair(text, fits);
  }
  if (const auto* tabs = qobject_cast<const QTabBar*>(widget)) {
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
    return std::make_pair(texts.join("|"), tabsFit(tabs));
  }
  return std::nullopt;
}

QJsonObject place(const QWidget* widget) {
  const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
  return {{"x", origin.x()}, {"y", origin.y()}, {"w", widget->width()}, {"h", widget->height()}};
}

QJsonDocument snapshot() {
  QJsonArray windows;
  QJsonArray widgets;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible()) continue;
    QJsonObject entry = place(window);
    entry["name"] = window->objectName();
    entry["title"] = window->windowTitle();
    windows.append(entry);
    for (QWidget* widget : window->findChildren<QWidget*>()) {
      if (!widget->isVisible()) continue;
      const auto text = shown(widget);
      if (!text) continue;
      QJsonObject item = place(widget);
      item["window"] = window->objectName();
      item["name"] = widget->objectName();
      item["class"] = widget->metaObject()->className();
      item["text"] = text->first;
      item["hintW"] = widget->sizeHint().width();
      item["hintH"] = widget->sizeHint().height();
      item["whole"] = text->second && insideItsParents(widget);
      widgets.append(item);
    }
  }
  return QJsonDocument(QJsonObject{{"windows", windows}, {"widgets", widgets}});
}

void startProbe() {
  const QString path = qEnvironmentVariable("TAPWICK_PROBE_FILE");
  if (path.isEmpty()) return;
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, qApp, [path] {
    QSaveFile file(path);  // written whole or not at all
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(snapshot().toJson(QJsonDocument::Compact));
    file.commit();
  });
  timer->start(100);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
