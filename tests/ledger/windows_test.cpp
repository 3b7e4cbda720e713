// The ledger's windows on a private X server: layout, callbacks and the
// event handler, driven directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "l1.h"
#include "windows.h"

namespace {

pid_t g_xvfb;

// Start Xvfb on a display number it picks itself (-displayfd), so that
// parallel runs never collide, and point DISPLAY at it.
bool start_xvfb() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  g_xvfb = fork();
  if (g_xvfb == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[32] = {};
  ssize_t n = 0, got;
  while (n < static_cast<ssize_t>(sizeof buf) - 1 &&
         (got = read(fds[0], buf + n, sizeof buf - 1 - n)) > 0) {
    n += got;
    if (buf[n - 1] == '\n') break;
  }
  close(fds[0]);
  if (n <= 0) return false;
  std::string display = ":" + std::string(buf, strcspn(buf, "\n"));
  setenv("DISPLAY", display.c_str(), 1);
  return true;
}

void stop_xvfb() {
  if (g_xvfb > 0) {
    kill(g_xvfb, SIGTERM);
    waitpid(g_xvfb, nullptr, 0);
    g_xvfb = 0;
  }
}

// Let the X server and FLTK settle.
void settle() {
  for (int k = 0; k < 5; ++k) Fl::wait(0.01);
}

std::string line(int n) { return win2_browser->text(n) ? win2_browser->text(n) : ""; }

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ledger_start());
    win1->show();
    settle();
  }
  void TearDown() override {
    for (Fl_Window* w : {static_cast<Fl_Window*>(win2), win1, message})
      if (w) w->hide();
    settle();
  }
  // Window 2 with the chart showing, as ChartOfAccounts -> Open leaves it.
  void open_chart() {
    win1_but2_callback();
    win2_showChart();
    settle();
  }
  void select_account(int n) {
    win2_browser->deselect();
    win2_browser->select(n);
    win2_browser_callback();
  }
};

TEST_F(Windows, StartShowsTheFirstCompany) {
  EXPECT_EQ(windowNo, 1);
  EXPECT_STREQ(win1->label(), "Vardel's Window");
  EXPECT_EQ(win1->w(), 300);
  EXPECT_EQ(win1->h(), 250);
  EXPECT_EQ(win1_company->value(), 2);
  EXPECT_EQ(previousA01_No, 2);
  EXPECT_STREQ(win1_companyDesc->label(), "02 Test Name");
  EXPECT_EQ(win1_company->minimum(), 0);
  EXPECT_EQ(win1_company->maximum(), 99);
  EXPECT_STREQ(win1_title->value(), "Systems");
  EXPECT_EQ(win1_but2->labelcolor(), FL_BLUE);
  EXPECT_EQ(win1_but2->type(), FL_RADIO_BUTTON);
  EXPECT_EQ(win1_but2->down_box(), FL_ROUND_DOWN_BOX);
  EXPECT_EQ(FL_NORMAL_SIZE, 11);
  EXPECT_EQ(message_text->labelcolor(), 216u);
  EXPECT_TRUE(message->modal());
}

TEST_F(Windows, SpinnerSnapsBackAtBothEnds) {
  win1_company->value(1);  // below the first company
  win1_spinner1_callback();
  EXPECT_EQ(win1_company->value(), 2);
  EXPECT_STREQ(win1_companyDesc->label(), "02 Test Name");

  for (int expected : {4, 8, 16, 32}) {
    win1_company->value(win1_company->value() + 1);
    win1_spinner1_callback();
    EXPECT_EQ(win1_company->value(), expected);
    EXPECT_EQ(previousA01_No, expected);
  }
  win1_company->value(33);  // beyond the fifth company
  win1_spinner1_callback();
  EXPECT_EQ(win1_company->value(), 32);
  EXPECT_STREQ(win1_companyDesc->label(), "32 Test Name");
  win1_company->value(31);
  win1_spinner1_callback();
  EXPECT_EQ(win1_company->value(), 16);
  EXPECT_STREQ(win1_companyDesc->label(), "16 Test Name");
}

TEST_F(Windows, GeneralLedgerOpensTheAccountList) {
  win1_but2->value(1);
  win1_but2_callback();
  settle();
  EXPECT_EQ(win1_but2->value(), 0);
  EXPECT_TRUE(win2->shown());
  EXPECT_EQ(windowNo, 2);
  EXPECT_FALSE(win2_chart->visible());
  EXPECT_FALSE(win2_tabs->visible());
  EXPECT_TRUE(win2_menuBar->active());
  EXPECT_EQ(win2_flag1->size(), 13 + 1);  // a choice's menu ends with a terminator
  EXPECT_EQ(win2_balid->size(), 2 + 1);

  ASSERT_EQ(win2_browser->size(), 26);
  EXPECT_EQ(line(1), "@.AAAAA\t@.Description AAAAA             ");
  EXPECT_EQ(line(2), "@B52@.AAAAB\t@B52@.Description AAAAB             ");
  for (int n = 1; n <= 26; ++n)
    EXPECT_EQ(line(n).rfind("@B52", 0) == 0, n % 2 == 0) << "line " << n;

  // Choosing it again builds a fresh window with the same 26 lines.
  win1_but2_callback();
  settle();
  EXPECT_EQ(win2_browser->size(), 26);
  EXPECT_EQ(windowNo, 2);
}

TEST_F(Windows, WindowTwoLayout) {
  win1_but2_callback();
  struct Place { Fl_Widget* w; int x, y, wd, ht; const char* label; };
  const Place places[] = {
      {win2, -1, -1, 625, 580, nullptr},
      {win2_menuBar, 0, 0, 625, 25, nullptr},
      {win2_chart, 25, 25, 600, 545, nullptr},
      {win2_key, 25, 40, 585, 40, nullptr},
      {win2_key_decoration, 25, 40, 585, 40, nullptr},
      {win2_acctNo, 125, 50, 60, 20, "Account No...:"},
      {win2_acctNoUp, 185, 46, 13, 13, "@-2redo"},
      {win2_acctNoDown, 185, 60, 13, 13, "@-2undo"},
      {win2_acctNoDesc, 225, 50, 300, 20, nullptr},
      {win2_key_cancel, 535, 50, 50, 20, "Cancel"},
      {win2_details, 25, 95, 585, 175, nullptr},
      {win2_description, 125, 105, 300, 20, "Description..:"},
      {win2_flag1, 125, 130, 45, 20, "Flag1..:"},
      {win2_flag2, 220, 130, 35, 20, "Flag2..:"},
      {win2_flag3, 305, 130, 35, 20, "Flag3..:"},
      {win2_flag4, 390, 130, 35, 20, "Flag4..:"},
      {win2_balid, 125, 155, 45, 20, "Debit/Credit..:"},
      {win2_cntlacctno, 125, 180, 55, 20, "Cntrl Acct..:"},
      {win2_depreciation, 125, 205, 55, 20, "Depreciation..:"},
      {win2_unitprice, 125, 230, 100, 20, "Unit Price..:"},
      {win2_details_cancel, 475, 230, 50, 20, "Cancel"},
      {win2_details_okay, 535, 230, 50, 20, "Okay"},
      {win2_acctlist, 25, 295, 585, 242, nullptr},  // encloses the browser
      {win2_head1, 25, 280, 65, 15, "Acct No"},
      {win2_head2, 90, 280, 520, 15, "Description"},
      {win2_browser, 25, 297, 585, 240, nullptr},
      {win2_help, 25, 545, 585, 25, "(F5) Accept"},
      {win2_tabs, 25, 50, 425, 225, nullptr},
      {win2_grp1, 25, 75, 425, 200, "Transaction"},
      {win2_grp2, 25, 75, 425, 200, "Investment"},
      {win2_grp3, 25, 75, 425, 200, "Dividends"},
      {win2_trans_cancel, 390, 245, 50, 20, "Cancel"},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.label ? p.label : "(no label)");
    if (p.x >= 0) {
      EXPECT_EQ(p.w->x(), p.x);
      EXPECT_EQ(p.w->y(), p.y);
    }
    EXPECT_EQ(p.w->w(), p.wd);
    EXPECT_EQ(p.w->h(), p.ht);
    if (p.label) {
      EXPECT_STREQ(p.w->label(), p.label);
    }
  }
  // Children of window 2 in order: menu bar, chart, tabs.
  ASSERT_EQ(win2->children(), 3);
  EXPECT_EQ(win2->child(0), win2_menuBar);
  EXPECT_EQ(win2->child(1), win2_chart);
  EXPECT_EQ(win2->child(2), win2_tabs);
  EXPECT_EQ(win2_browser->type(), FL_MULTI_BROWSER);
  EXPECT_EQ(win2_browser->textcolor(), FL_BLUE);
  EXPECT_EQ(win2_acctNoDesc->textcolor(), FL_BLUE);
  EXPECT_EQ(win2_flag2->minimum(), 1);
  EXPECT_EQ(win2_flag4->maximum(), 4);
  EXPECT_TRUE(win2->modal());
  EXPECT_EQ(win2_help->align(), static_cast<Fl_Align>(FL_ALIGN_LEFT | FL_ALIGN_INSIDE));

  // The menu table's actions.
  const Fl_Menu_Item* open = win2_menuBar->find_item("ChartOfAccounts/Open");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->callback(), static_cast<Fl_Callback*>(win2_showChart));
  EXPECT_EQ(open->shortcut(), FL_ALT + 'o');
  const Fl_Menu_Item* journal = win2_menuBar->find_item("GeneralJournal/New");
  ASSERT_NE(journal, nullptr);
  EXPECT_EQ(journal->callback(), static_cast<Fl_Callback*>(win2_showTrans));
  const Fl_Menu_Item* exitItem = win2_menuBar->find_item("Exit");
  ASSERT_NE(exitItem, nullptr);
  EXPECT_EQ(exitItem->callback(), static_cast<Fl_Callback*>(win2_menu_Exit));
  const Fl_Menu_Item* cancel = win2_menuBar->find_item("AccountEnquiry/Cancel");
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(cancel->flags & FL_MENU_DIVIDER);
}

TEST_F(Windows, ChartKeyStepsThroughTheAccounts) {
  open_chart();
  EXPECT_EQ(win2_B01_No, 1);
  EXPECT_STREQ(win2_acctNo->value(), "AAAAA");
  EXPECT_STREQ(win2_acctNoDesc->value(), "Description AAAAA             ");
  EXPECT_FALSE(win2_menuBar->active());
  EXPECT_TRUE(win2_chart->visible());
  EXPECT_TRUE(win2_key->active());
  EXPECT_FALSE(win2_details->active());

  win2_acctNoDown_callback();  // already at the first account
  EXPECT_EQ(win2_B01_No, 1);
  EXPECT_STREQ(win2_acctNo->value(), "AAAAA");
  for (int k = 0; k < 30; ++k) win2_acctNoUp_callback();
  EXPECT_EQ(win2_B01_No, 26);
  EXPECT_STREQ(win2_acctNo->value(), "AAAAZ");
  win2_acctNoDown_callback();
  EXPECT_STREQ(win2_acctNo->value(), "AAAAY");

  win2_key_cancel_callback();
  EXPECT_FALSE(win2_chart->visible());
  EXPECT_TRUE(win2_menuBar->active());

  win2_showTrans();
  EXPECT_TRUE(win2_tabs->visible());
  EXPECT_FALSE(win2_chart->visible());
  win2_trans_cancel_callback();
  EXPECT_FALSE(win2_tabs->visible());
  EXPECT_TRUE(win2_menuBar->active());
}

TEST_F(Windows, SelectingAnAccountFillsTheDetails) {
  open_chart();
  select_account(7);
  EXPECT_EQ(win2_B01_No, 7);
  EXPECT_STREQ(win2_acctNo->value(), "AAAAG");
  EXPECT_STREQ(win2_description->value(), "Description AAAAG");
  EXPECT_EQ(win2_flag1->value(), 12);  // "TC"
  EXPECT_EQ(win2_flag2->value(), 2);
  EXPECT_EQ(win2_flag3->value(), 3);
  EXPECT_EQ(win2_flag4->value(), 4);
  EXPECT_EQ(win2_balid->value(), 1);  // "CR"
  EXPECT_STREQ(win2_cntlacctno->value(), "aaaaz");
  EXPECT_STREQ(win2_depreciation->value(), "17");
  EXPECT_STREQ(win2_unitprice->value(), "7.7000");
  EXPECT_TRUE(win2_details->active());
  EXPECT_FALSE(win2_key->active());
  EXPECT_FALSE(win2_browser->active());

  win2_details_cancel_callback();
  EXPECT_FALSE(win2_details->active());
  EXPECT_TRUE(win2_key->active());
}

// A click on the lowest visible line of the list selects its account: the
// list's group reaches as far down as the browser.
TEST_F(Windows, LowestListLineTakesAClick) {
  open_chart();
  settle();
  Fl::e_x = 60;
  Fl::e_y = win2_browser->y() + win2_browser->h() - 8;
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = FL_BUTTON1;
  Fl::e_clicks = 0;
  Fl::handle_(FL_PUSH, win2);
  Fl::e_state = 0;
  Fl::handle_(FL_RELEASE, win2);
  settle();
  const int chosen = win2_browser->value();
  EXPECT_GE(chosen, 16) << "a line below the group's old bottom edge";
  EXPECT_EQ(win2_B01_No, chosen);
  EXPECT_NE(line(chosen).find(win2_acctNo->value()), std::string::npos);
  EXPECT_TRUE(win2_details->active());
}

TEST_F(Windows, OkayStoresTheEditedAccount) {
  open_chart();
  select_account(4);
  win2_description->value("Motor vehicles and other long descriptions");
  win2_flag1->value(4);  // "AB"
  win2_flag3->value(1);
  win2_balid->value(0);  // "DR"
  win2_cntlacctno->value("BBBBBBB");
  win2_depreciation->value("120");
  win2_unitprice->value("12.345678");
  win2_details_okay_callback();

  EXPECT_TRUE(win2_key->active());
  EXPECT_FALSE(win2_details->active());
  EXPECT_FALSE(message->shown()) << message_text->label();
  ASSERT_EQ(win2_browser->size(), 26) << "the list is refilled, not appended to";
  EXPECT_EQ(line(4), "@B52@.AAAAD\t@B52@.Motor vehicles and other long ");

  ASSERT_EQ(l1_Call(c_B01_Read, 4), 0);
  EXPECT_EQ(std::string(b01_description, 30), "Motor vehicles and other long ");
  EXPECT_EQ(std::string(b01_flag1, 2), "AB");
  EXPECT_EQ(l1_NumberValue(b01_flag3), 1);
  EXPECT_EQ(std::string(b01_balid, 2), "DR");
  EXPECT_EQ(std::string(b01_cntlacctno, 5), "BBBBB");
  EXPECT_EQ(l1_NumberValue(b01_depreciation), 120);
  EXPECT_EQ(l1_NumberValue(b01_unitprice), 123456);

  select_account(4);
  EXPECT_STREQ(win2_unitprice->value(), "12.3456");
}

TEST_F(Windows, EntriesThatAreNotNumbersStoreNothing) {
  open_chart();
  select_account(2);
  win2_description->value("Changed");
  win2_depreciation->value("twelve");
  win2_unitprice->value("1,5");
  win2_details_okay_callback();
  ASSERT_EQ(l1_Call(c_B01_Read, 2), 0);
  EXPECT_EQ(l1_NumberValue(b01_depreciation), 12);
  EXPECT_EQ(l1_NumberValue(b01_unitprice), 22000);
  EXPECT_EQ(std::string(b01_description, 7), "Changed");
  EXPECT_TRUE(message->shown());
  EXPECT_NE(std::string(message_text->label()).find("Depreciation not saved"), std::string::npos);
  EXPECT_NE(std::string(message_text->label()).find("Unit price not saved"), std::string::npos);
  EXPECT_EQ(windowNo, 3);
  windowExit_callback(message);
  EXPECT_EQ(windowNo, 2);

  // Out of the field's range counts as not a number for it.
  select_account(2);
  win2_depreciation->value("1000");
  win2_unitprice->value("-3");
  win2_details_okay_callback();
  ASSERT_EQ(l1_Call(c_B01_Read, 2), 0);
  EXPECT_EQ(l1_NumberValue(b01_depreciation), 12);
  EXPECT_EQ(l1_NumberValue(b01_unitprice), 22000);
}

TEST_F(Windows, UnknownFlagSelectsNoEntryAndIsKept) {
  ASSERT_EQ(l1_Call(c_B01_Read, 9), 0);
  l1_PutWord(b01_flag1, 2, "ZZ");
  l1_PutWord(b01_balid, 2, "??");
  ASSERT_EQ(l1_Call(c_B01_Write, 9), 0);
  open_chart();
  select_account(9);
  EXPECT_EQ(win2_flag1->value(), -1);
  EXPECT_EQ(win2_balid->value(), -1);
  win2_details_okay_callback();
  ASSERT_EQ(l1_Call(c_B01_Read, 9), 0);
  EXPECT_EQ(std::string(b01_flag1, 2), "ZZ");
  EXPECT_EQ(std::string(b01_balid, 2), "??");
}

TEST_F(Windows, FormatCharactersInADescriptionAreShownAsTyped) {
  open_chart();
  select_account(1);
  win2_description->value("@C1 red?");
  win2_details_okay_callback();
  EXPECT_EQ(line(1), "@.AAAAA\t@.@C1 red?                      ");
}

TEST_F(Windows, MenuMessagesAndWindowCount) {
  win1_but2_callback();
  settle();
  ASSERT_EQ(windowNo, 2);
  warning_message();
  EXPECT_TRUE(message->shown());
  EXPECT_STREQ(message_text->label(), "This menu option is not defined \n at present");
  EXPECT_EQ(windowNo, 3);
  warning_message();  // already showing: still one window
  EXPECT_EQ(windowNo, 3);
  windowExit_callback(message);
  EXPECT_FALSE(message->shown());
  EXPECT_EQ(windowNo, 2);
  win2_menu_Exit();
  EXPECT_FALSE(win2->shown());
  EXPECT_EQ(windowNo, 1);
}

// Every menu item with a shortcut is reached by it, and by no other item's.
TEST_F(Windows, EachShortcutFiresItsOwnItem) {
  int tried = 0;
  for (const Fl_Menu_Item* item = menu_items; item < menu_items + menu_items->size(); ++item) {
    if (!item->label() || item->submenu() || item->shortcut() == 0) continue;
    SCOPED_TRACE(item->label());
    // A submenu title with the same shortcut would open its menu instead
    // (and wait there for the user).
    bool title_has_it = false;
    for (const Fl_Menu_Item* t = menu_items; t < menu_items + menu_items->size(); ++t)
      title_has_it |= t->label() && t->submenu() && t->shortcut() == item->shortcut();
    if (title_has_it) {
      ADD_FAILURE() << "a submenu title has the same shortcut";
      continue;
    }
    win1_but2_callback();
    settle();
    static char key[2];
    key[0] = static_cast<char>(item->shortcut() & 0xff);
    Fl::e_keysym = key[0];
    Fl::e_state = FL_ALT;
    Fl::e_text = key;
    Fl::e_length = 1;
    EXPECT_TRUE(Fl::handle_(FL_SHORTCUT, win2));
    EXPECT_EQ(win2_menuBar->mvalue(), item);
    Fl::e_state = 0;
    if (message->shown()) windowExit_callback(message);
    ++tried;
  }
  EXPECT_EQ(tried, 13);
  Fl::e_text = const_cast<char*>("");
  Fl::e_length = 0;
  // The two items that do something yet: Alt+o opens the chart, Alt+n the
  // journal's tabs.
  win1_but2_callback();
  settle();
  Fl::e_keysym = 'o';
  Fl::e_state = FL_ALT;
  Fl::handle_(FL_SHORTCUT, win2);
  EXPECT_TRUE(win2_chart->visible());
  EXPECT_FALSE(win2_menuBar->active());
  win2_key_cancel_callback();
  Fl::e_keysym = 'n';
  Fl::handle_(FL_SHORTCUT, win2);
  EXPECT_TRUE(win2_tabs->visible());
  Fl::e_state = 0;
}

TEST_F(Windows, F5AndEscape) {
  // F5 in the company window does nothing.
  Fl::e_keysym = FL_F + 5;
  eventHandler(FL_KEYDOWN, win1);
  EXPECT_FALSE(message->shown());
  EXPECT_EQ(windowNo, 1);

  win1_but2_callback();
  settle();
  Fl::e_keysym = FL_F + 5;
  eventHandler(FL_KEYDOWN, win2);
  EXPECT_TRUE(message->shown());
  EXPECT_STREQ(message_text->label(), "This option is not defined \n at present");
  EXPECT_EQ(windowNo, 3);
  windowExit_callback(message);

  // Escape closes nothing.
  Fl::e_keysym = FL_Escape;
  Fl::e_text = const_cast<char*>("\033");
  Fl::e_length = 1;
  eventHandler(FL_KEYDOWN, win2);
  settle();
  EXPECT_TRUE(win2->shown());
  EXPECT_EQ(windowNo, 2);
  // Without the handler FLTK would have closed it.
  Fl::handle_(FL_KEYDOWN, win2);
  settle();
  EXPECT_FALSE(win2->shown());
  Fl::e_text = const_cast<char*>("");
  Fl::e_length = 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!start_xvfb()) {
    fprintf(stderr, "cannot start Xvfb\n");
    return 1;
  }
  int rc = RUN_ALL_TESTS();
  for (Fl_Window* w : {static_cast<Fl_Window*>(win2), win1, message}) delete w;
  win2 = nullptr;
  win1 = nullptr;
  message = nullptr;
  stop_xvfb();
  return rc;
}
