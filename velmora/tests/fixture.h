#pragma once

// A real main window for each test, with scripted prompts and an empty profile.

#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>

#include <memory>

#include "mainframe.h"
#include "profile.h"
#include "resource.h"
#include "scripted_prompts.h"
#include "searchipdlg.h"
#include "view.h"

class VelmoraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velmora::Profile().clear();
    frame_ = std::make_unique<CMainFrame>();
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
  }
  void TearDown() override {
    frame_.reset();
    velmora::Profile().clear();
  }

  CPelgrinView& view() const { return *frame_->View(); }
  int rows() const { return view().topLevelItemCount(); }
  QString cell(int row, int column) const { return view().topLevelItem(row)->text(column); }

  // States of the five device commands, true only when all agree.
  bool DeviceCommandsEnabled() const { return AllDeviceCommands(true); }
  bool DeviceCommandsDisabled() const { return AllDeviceCommands(false); }

  void ClickRow(int row) {
    const QRect r = view().visualItemRect(view().topLevelItem(row));
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, r.center());
  }
  void ClickBesideRows() {
    const QRect vp = view().viewport()->rect();
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, QPoint(vp.width() / 2, vp.height() - 3));
  }

  // The Search by IP dialog's script: the address to search, then OK.
  static ScriptedPrompts::Script SearchAt(uint32_t host_order) {
    return [host_order](QDialog& d) {
      auto* field = d.findChild<CIPAddressCtrl*>(QString::number(velmora::kSearchIPAddressId));
      ASSERT_NE(field, nullptr);
      field->SetAddress(host_order);
      ScriptedPrompts::Click(d, 1);
    };
  }

  ScriptedPrompts prompts_;
  std::unique_ptr<CMainFrame> frame_;

 private:
  bool AllDeviceCommands(bool enabled) const {
    for (int c : velmora::kDeviceCommands) {
      if (frame_->Action(c)->isEnabled() != enabled) return false;
    }
    return true;
  }
};

inline constexpr uint32_t Host(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}
