// The Ports dialog offscreen, and the settings file on disk: QSettings' own INI, written whole
// or not at all.
#include "platform/qt/window/ports_dialog.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "platform/qt/io/port_settings.h"

namespace velmora::testing {
namespace {

std::string Rows(const QTableWidget* table) {
  std::string text;
  for (int row = 0; row < table->rowCount(); ++row)
    for (int column = 0; column < table->columnCount(); ++column)
      text += table->item(row, column)->text().toStdString() + (column < 3 ? " | " : "\n");
  return text;
}

TEST(PortsDialog, AddsAnAddressPinsADeviceRemovesRefusesABadAddressAndSaves) {
  PortSetup setup{{{1, "/dev/ttyUSB0"}, {2, "/tmp/card"}},
                  {{1, PortOrigin::System}, {2, PortOrigin::Environment}}};
  PortsDialog dialog(setup, {"/dev/serial/by-id/usb-FTDI-if00-port0", "/dev/ttyUSB0"}, 2);
  dialog.present = [](const std::string& device) { return device == "/dev/ttyUSB0"; };
  std::vector<PortTable> saved;
  dialog.save = [&saved](const PortTable& table) {
    saved.push_back(table);
    return std::string{};
  };
  auto* number = dialog.findChild<QComboBox*>("PortNumber");
  auto* address = dialog.findChild<QComboBox*>("PortAddress");
  auto* set = dialog.findChild<QPushButton*>("SetPort");
  auto* fault = dialog.findChild<QLabel*>("PortFault");
  auto* rows = dialog.findChild<QTableWidget*>("PortsTable");
  number->setCurrentIndex(2);
  QTest::keyClicks(address->lineEdit(), "cabinet-7");  // after "rfc2217://"
  EXPECT_EQ(fault->text(), "the address has no port (HOST:PORT)");
  EXPECT_FALSE(set->isEnabled());
  QTest::keyClicks(address->lineEdit(), ":4001");
  EXPECT_EQ(fault->text(), "");
  set->click();
  // Pinned: COM1 leads to the adapter's by-id link, chosen from the list.
  number->setCurrentIndex(0);
  address->setCurrentIndex(0);
  set->click();
  // The port in use keeps its entry.
  number->setCurrentIndex(1);
  EXPECT_EQ(fault->text(), "COM2 is in use: choose DISCONNECT first.");
  rows->selectRow(1);
  EXPECT_FALSE(dialog.findChild<QPushButton*>("RemovePort")->isEnabled());
  EXPECT_EQ(Rows(rows),
            "COM1 | /dev/serial/by-id/usb-FTDI-if00-port0 | no | Ports dialog\n"
            "COM2 | /tmp/card | no | VELMORA_PORTS\n"
            "COM3 | rfc2217://cabinet-7:4001 | network | Ports dialog\n");
  rows->selectRow(0);
  dialog.findChild<QPushButton*>("RemovePort")->click();
  dialog.findChild<QPushButton*>("SavePorts")->click();
  EXPECT_EQ(saved, (std::vector<PortTable>{{{2, "/tmp/card"}, {3, "rfc2217://cabinet-7:4001"}}}));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(PortsFile, QSettingsReadsWhatTheConsoleWritesAndTheConsoleWhatQSettingsWrites) {
  QTemporaryDir dir;
  const PortTable table{{1, "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"},
                        {2, "rfc2217://[::1]:2217"},
                        {3, "/tmp/a;b,c=d\"e\\f"},
                        {4, "@odd"}};
  const QString ours = dir.filePath("ours/velmora.conf"), theirs = dir.filePath("theirs.conf");
  ASSERT_EQ(WriteSettingsFile(ours.toStdString(), table), "");
  QSettings read(ours, QSettings::IniFormat);
  {
    QSettings written(theirs, QSettings::IniFormat);
    for (const auto& [port, device] : table) {
      const QString key = "Ports/COM" + QString::number(port);
      EXPECT_EQ(read.value(key).toString().toStdString(), device);
      written.setValue(key, QString::fromStdString(device));
    }
  }
  PortSources sources{.filePath = theirs.toStdString()};
  ReadSettingsFile(sources);
  EXPECT_EQ(ReadPortsFile(sources.fileText.value_or("")).table, table);
}

TEST(PortsFile, SavingOnAFullDiskSaysSoAndKeepsTheOldFile) {
  QTemporaryDir dir;
  if (geteuid() != 0 || ::mount("tmpfs", qPrintable(dir.path()), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "a small tmpfs needs root";
  const std::string path = dir.filePath("velmora.conf").toStdString();
  ASSERT_EQ(WriteSettingsFile(path, {{1, "/dev/ttyUSB0"}}), "");
  std::ofstream(dir.filePath("filler").toStdString()) << std::string(256 * 1024, 'x');
  EXPECT_EQ(WriteSettingsFile(path, {{2, "/tmp/card"}}),
            path + " cannot be written: No space left on device");
  PortSources sources{.filePath = path};
  ReadSettingsFile(sources);
  EXPECT_EQ(sources.fileText, "[Ports]\nCOM1=/dev/ttyUSB0\n");
  ::umount(qPrintable(dir.path()));
}

}  // namespace
}  // namespace velmora::testing
