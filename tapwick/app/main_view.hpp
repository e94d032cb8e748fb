// MainView: the messaging screen's widgets over a MainViewModel.
#pragma once

#include <QWidget>
#include <memory>

#include "tapwick/main_view_model.hpp"

class QLabel;
class QLineEdit;

namespace tapwick {

class MainView : public QWidget {
 public:
  MainView(std::shared_ptr<VoduzaziService> service, std::function<void(bool)> setShowMain,
           QWidget* parent);

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void render();
  void placeBanner();

  std::shared_ptr<MainViewModel> model_;
  QLabel* myName_;
  QLabel* connection_;
  QWidget* form_;
  QWidget* loading_;
  QLineEdit* message_;
  QLabel* error_;
  QLabel* banner_;
};

}  // namespace tapwick
