#include "tapwick/app/widgets.hpp"

#include <QApplication>

namespace tapwick {

QLabel* plainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
  return label;
}

QLabel* errorLabel(QWidget* parent) {
  auto* label = plainLabel({}, parent);
  label->setObjectName("error");
  label->setFont(captionFont());
  label->setStyleSheet("color: red;");
  label->setAlignment(Qt::AlignCenter);
  // Its line stays reserved while there is no error, so that an error moves no button.
  QSizePolicy policy = label->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  label->setSizePolicy(policy);
  label->setText(" ");
  label->hide();
  return label;
}

void showError(QLabel* label, const std::optional<std::string>& error) {
  label->setText(error ? toQString(*error) : QString(" "));
  label->setVisible(error.has_value());
}

QString toQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStdString(const QString& text) { return text.toUtf8().toStdString(); }

QFont headlineFont() {
  QFont font = QApplication::font();
  font.setBold(true);
  return font;
}

QFont titleFont(int pointSizeDelta) {
  QFont font = QApplication::font();
  font.setPointSize(font.pointSize() + pointSizeDelta);
  return font;
}

QFont captionFont() {
  QFont font = QApplication::font();
  font.setPointSize(std::max(6, font.pointSize() - 2));
  return font;
}

}  // namespace tapwick
