// Small widget builders the views share: plain-text labels (server text is never markup), the
// red caption for errors, and fonts by role.
#pragma once

#include <QFont>
#include <QLabel>
#include <QString>
#include <optional>
#include <string>

namespace tapwick {

// A label that shows its text literally.
QLabel* plainLabel(const QString& text = {}, QWidget* parent = nullptr);
// The red caption under a form; hidden while there is no error, its line kept free.
QLabel* errorLabel(QWidget* parent = nullptr);
void showError(QLabel* label, const std::optional<std::string>& error);

QString toQString(const std::string& text);
std::string toStdString(const QString& text);

// Fonts after the roles the screens use.
QFont headlineFont();
QFont titleFont(int pointSizeDelta = 4);
QFont captionFont();

}  // namespace tapwick
