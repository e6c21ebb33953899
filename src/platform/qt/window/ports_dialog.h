// The Ports dialog: the port table as it is in force, what each entry leads to and whether that
// is there; the engineer adds a network address, pins a device to a number, removes an entry,
// and saves the table to the settings file.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "serial/port_setup.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace velmora {

class PortsDialog : public QDialog {
  Q_OBJECT
 public:
  // `devices`: what the address list offers to pin (by-id links first); `inUse`: the COM number
  // open just now, whose entry stays as it is.
  PortsDialog(const PortSetup& setup, const std::vector<std::string>& devices, int inUse,
              QWidget* parent = nullptr);

  PortTable Table() const { return table_; }
  std::function<bool(const std::string& device)> present;
  // Writes the table; what went wrong, or empty.
  std::function<std::string(const PortTable& table)> save;

 private:
  void Show();
  void Check();
  void Add();
  void Remove();
  void Save();

  PortTable table_;
  std::map<int, std::string> origin_;
  int inUse_;
  QTableWidget* rows_;
  QComboBox* number_;
  QComboBox* address_;
  QLabel* fault_;
  QPushButton* add_;
  QPushButton* remove_;
};

}  // namespace velmora
