// ConnectView: the pairing screen's widgets over a ConnectViewModel.
#pragma once

#include <QWidget>
#include <memory>

#include "tapwick/connect_view_model.hpp"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tapwick {

class ConnectView : public QWidget {
 public:
  ConnectView(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain,
              QWidget* parent);

 private:
  void render();

  std::shared_ptr<ConnectViewModel> model_;
  QWidget* signedOut_;
  QWidget* content_;
  QLabel* email_;
  QLabel* code_;
  QPushButton* copy_;
  QLineEdit* inviteCode_;
  QLabel* error_;
};

}  // namespace tapwick
