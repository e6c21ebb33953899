// The Ports dialog's widgets; the table's rules are the core's.
#include "platform/qt/window/ports_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "serial/network_address.h"

namespace velmora {

PortsDialog::PortsDialog(const PortSetup& setup, const std::vector<std::string>& devices, int inUse,
                         QWidget* parent)
    : QDialog(parent), table_(setup.table), inUse_(inUse) {
  setObjectName("PortsDialog");
  setWindowTitle("Ports");
  for (const auto& [port, origin] : setup.origin) origin_[port] = PortOriginName(origin);
  rows_ = new QTableWidget(0, 4, this);
  rows_->setObjectName("PortsTable");
  rows_->setHorizontalHeaderLabels({"Port", "Leads to", "Present", "From"});
  rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
  rows_->setSelectionMode(QAbstractItemView::SingleSelection);
  rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  rows_->verticalHeader()->hide();
  rows_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  number_ = new QComboBox(this);
  number_->setObjectName("PortNumber");
  for (int n = 1; n <= kMaxPorts; ++n) number_->addItem("COM" + QString::number(n), n);
  address_ = new QComboBox(this);
  address_->setObjectName("PortAddress");
  address_->setEditable(true);
  address_->setInsertPolicy(QComboBox::NoInsert);
  for (const auto& device : devices) address_->addItem(QString::fromStdString(device));
  address_->setEditText("rfc2217://");
  address_->setToolTip(
      "A device, a /dev/serial/by-id/ link, or tcp://HOST:PORT or "
      "rfc2217://HOST:PORT of a terminal server");
  fault_ = new QLabel(this);
  fault_->setObjectName("PortFault");
  add_ = new QPushButton("Set", this);
  add_->setObjectName("SetPort");
  remove_ = new QPushButton("Remove", this);
  remove_->setObjectName("RemovePort");
  auto* saveButton = new QPushButton("Save", this);
  saveButton->setObjectName("SavePorts");
  auto* close = new QPushButton("Close", this);
  close->setObjectName("ClosePorts");
  auto* layout = new QGridLayout(this);
  layout->addWidget(rows_, 0, 0, 1, 4);
  layout->addWidget(number_, 1, 0);
  layout->addWidget(address_, 1, 1, 1, 2);
  layout->addWidget(add_, 1, 3);
  layout->addWidget(fault_, 2, 0, 1, 4);
  layout->addWidget(remove_, 3, 0);
  layout->addWidget(saveButton, 3, 2);
  layout->addWidget(close, 3, 3);
  layout->setColumnStretch(1, 1);
  resize(560, 320);
  connect(address_, &QComboBox::editTextChanged, this, [this] { Check(); });
  connect(number_, &QComboBox::currentIndexChanged, this, [this] { Check(); });
  connect(rows_, &QTableWidget::itemSelectionChanged, this, [this] { Check(); });
  connect(add_, &QPushButton::clicked, this, [this] { Add(); });
  connect(remove_, &QPushButton::clicked, this, [this] { Remove(); });
  connect(saveButton, &QPushButton::clicked, this, [this] { Save(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  Show();
}

void PortsDialog::Show() {
  rows_->setRowCount(0);
  for (const auto& [port, device] : table_) {
    const int row = rows_->rowCount();
    rows_->insertRow(row);
    const bool network = IsNetworkEntry(device);
    const QString there = network ? "network" : present && present(device) ? "yes" : "no";
    const auto origin = origin_.find(port);
    const QString from = origin == origin_.end() ? "" : QString::fromStdString(origin->second);
    int column = 0;
    for (const QString& text :
         {"COM" + QString::number(port), QString::fromStdString(device), there, from}) {
      auto* item = new QTableWidgetItem(text);
      item->setData(Qt::UserRole, port);
      rows_->setItem(row, column++, item);
    }
  }
  Check();
}

// The address as it is typed, by the rules every entry of the table follows.
void PortsDialog::Check() {
  const int port = number_->currentData().toInt();
  QString fault = QString::fromStdString(PortDeviceFault(address_->currentText().toStdString()));
  if (port == inUse_)
    fault = "COM" + QString::number(port) + " is in use: choose DISCONNECT first.";
  fault_->setText(fault);
  add_->setEnabled(fault.isEmpty());
  const auto* chosen = rows_->currentItem();
  remove_->setEnabled(chosen && rows_->currentRow() >= 0 && chosen->isSelected() &&
                      chosen->data(Qt::UserRole).toInt() != inUse_);
}

void PortsDialog::Add() {
  const int port = number_->currentData().toInt();
  table_[port] = address_->currentText().toStdString();
  origin_[port] = "Ports dialog";
  Show();
}

void PortsDialog::Remove() {
  if (const auto* chosen = rows_->currentItem()) table_.erase(chosen->data(Qt::UserRole).toInt());
  Show();
}

void PortsDialog::Save() {
  const std::string failure = save ? save(table_) : std::string{};
  fault_->setText(QString::fromStdString(failure));
  if (failure.empty()) accept();
}

}  // namespace velmora
