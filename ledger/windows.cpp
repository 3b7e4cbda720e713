// The ledger's windows: the message window, the company selector ("Vardel's
// Window") and the chart-of-accounts window, with their callbacks.  The
// windows talk to the program logic only through l1.h: requests through
// l1_Call, data through the twelve shared fields.
#include "windows.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "l1.h"

// ---- state -------------------------------------------------------------

int windowNo;
int i, j;
std::string str;
int previousA01_No;
int win1_A01_No;
int win2_B01_No;

const char* const flag1[13] = {"A ", "X ", "T ", "C ", "AB", "CA", "PA",
                               "BA", "PL", "DA", "AS", "TO", "TC"};
const char* const balID[2] = {"DR", "CR"};

const char* const ledger_menuNotDefined = "This menu option is not defined \n at present";
const char* const ledger_optionNotDefined = "This option is not defined \n at present";

// Browser colour of the even lines of the account list.
static const char* const kStripe = "@B52";

// ---- widgets -----------------------------------------------------------

Fl_Window* message;
Fl_Box* message_text;
Fl_Window* win1;
Fl_Spinner* win1_company;
Fl_Box* win1_companyDesc;
Fl_Box* win1_decoration;
Fl_Output* win1_title;
Fl_Round_Button *win1_but1, *win1_but2, *win1_but3;
Fl_Double_Window* win2;
Fl_Menu_Bar* win2_menuBar;
Fl_Tabs* win2_tabs;
Fl_Group *win2_grp1, *win2_grp2, *win2_grp3;
Fl_Button* win2_trans_cancel;
Fl_Group* win2_chart;
Fl_Group* win2_key;
Fl_Box* win2_key_decoration;
Fl_Input* win2_acctNo;
Fl_Button *win2_acctNoUp, *win2_acctNoDown;
Fl_Output* win2_acctNoDesc;
Fl_Button* win2_key_cancel;
Fl_Group* win2_details;
Fl_Box* win2_details_decoration;
Fl_Input* win2_description;
Fl_Choice* win2_flag1;
Fl_Spinner *win2_flag2, *win2_flag3, *win2_flag4;
Fl_Choice* win2_balid;
Fl_Input *win2_cntlacctno, *win2_depreciation, *win2_unitprice;
Fl_Button *win2_details_cancel, *win2_details_okay;
Fl_Group* win2_acctlist;
Fl_Box *win2_head1, *win2_head2;
Fl_Browser* win2_browser;
Fl_Box* win2_help;

static Fl_Color grey225() { return fl_rgb_color(225, 225, 225); }

// Shortcuts are Alt + a letter, each letter used once in the whole bar: a
// shortcut matches wherever its item stands, so a repeated letter would only
// ever reach the first item that has it.  The ChartOfAccounts title opens
// its submenu with Alt+h.
Fl_Menu_Item menu_items[] = {
    {"ChartOfAccounts", FL_ALT + 'h', nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"New", FL_ALT + 'w', warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Open", FL_ALT + 'o', win2_showChart, nullptr, 0, 0, 0, 0, 0},
    {"Save", FL_ALT + 's', warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Cancel", FL_ALT + 'a', warning_message, nullptr, FL_MENU_DIVIDER, 0, 0, 0, 0},
    {"Exit", FL_ALT + 'x', warning_message, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"GeneralJournal", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"New", FL_ALT + 'n', win2_showTrans, nullptr, 0, 0, 0, 0, 0},
    {"Open", FL_ALT + 'p', warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Save", FL_ALT + 'v', warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Cancel", FL_ALT + 'l', warning_message, nullptr, FL_MENU_DIVIDER, 0, 0, 0, 0},
    {"Exit", FL_ALT + 't', warning_message, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"AccountEnquiry", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"Open", FL_ALT + 'e', warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Cancel", FL_ALT + 'c', warning_message, nullptr, FL_MENU_DIVIDER, 0, 0, 0, 0},
    {"Exit", FL_ALT + 'i', warning_message, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"Reports", 0, warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Depreciation", 0, warning_message, nullptr, 0, 0, 0, 0, 0},
    {"Exit", 0, win2_menu_Exit, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0}};

// ---- helpers -----------------------------------------------------------

int ledger_codeIndex(const char* const* codes, int count, const char* code) {
  for (int n = 0; n < count; ++n)
    if (memcmp(codes[n], code, l1_CodeWidth) == 0) return n;
  return -1;
}

// A number field as a whole count of its units (the fields the windows show
// as integers have no decimals).
static int64_t whole_value(const char* number) {
  return l1_NumberValue(number) / l1_NumberScale(number);
}

static int company_number() { return static_cast<int>(whole_value(a01_no)); }

static void show_company() {
  win1_company->value(company_number());
  win1_companyDesc->copy_label(l1_Trimmed(l1_WordText(a01_name, l1_NameWidth)).c_str());
}

// Select entry `index` of a choice, or nothing when index is -1.
static void choose(Fl_Choice* c, int index) {
  if (index < 0)
    c->value(static_cast<const Fl_Menu_Item*>(nullptr));
  else
    c->value(index);
}

// ---- window builders ---------------------------------------------------

Fl_Window* make_window0() {
  message = new Fl_Window(300, 60);
  message_text = new Fl_Box(FL_NO_BOX, 10, 10, 280, 40, "");
  message_text->labelcolor(static_cast<Fl_Color>(216));
  message->end();
  message->callback(windowExit_callback);
  message->hotspot(30, 30);
  message->set_modal();
  return message;
}

Fl_Window* make_window1() {
  win1 = new Fl_Window(300, 250, "Vardel's Window");
  win1_company = new Fl_Spinner(70, 10, 40, 20, "Company");
  win1_company->range(0, 99);
  win1_company->step(1);
  win1_company->textcolor(FL_BLUE);
  win1_company->callback(win1_spinner1_callback);
  win1_companyDesc = new Fl_Box(FL_NO_BOX, 160, 10, 70, 20, "");
  win1_companyDesc->labelcolor(FL_BLUE);
  win1_decoration = new Fl_Box(FL_ENGRAVED_BOX, 20, 50, 260, 150, "");
  win1_decoration->color(grey225());
  win1_title = new Fl_Output(25, 40, 60, 20);
  win1_title->box(FL_FLAT_BOX);
  win1_title->value("Systems");
  win1_but1 = new Fl_Round_Button(35, 70, 70, 15, "SYSTEM");
  win1_but2 = new Fl_Round_Button(35, 110, 70, 15, "General Ledger");
  win1_but3 = new Fl_Round_Button(35, 130, 70, 15, "Asset/Investment");
  for (Fl_Round_Button* b : {win1_but1, win1_but2, win1_but3}) {
    b->type(FL_RADIO_BUTTON);
    b->down_box(FL_ROUND_DOWN_BOX);
  }
  win1_but2->labelcolor(FL_BLUE);
  win1_but1->callback(warning_message);
  win1_but2->callback(win1_but2_callback);
  win1_but3->callback(warning_message);
  win1->end();
  win1->callback(windowExit_callback);
  win1->hotspot(100, 100);
  return win1;
}

static Fl_Input* input(int x, int y, int w, const char* label) {
  return new Fl_Input(x, y, w, 20, label);
}

static Fl_Spinner* flag_spinner(int x, const char* label) {
  Fl_Spinner* s = new Fl_Spinner(x, 130, 35, 20, label);
  s->range(1, 4);
  s->step(1);
  return s;
}

Fl_Double_Window* make_window2() {
  win2 = new Fl_Double_Window(625, 580);
  win2_menuBar = new Fl_Menu_Bar(0, 0, 625, 25);
  win2_menuBar->box(FL_THIN_UP_BOX);
  win2_menuBar->menu(menu_items);

  win2_chart = new Fl_Group(25, 25, 600, 545);

  win2_key = new Fl_Group(25, 40, 585, 40);
  win2_key_decoration = new Fl_Box(FL_THIN_UP_BOX, 25, 40, 585, 40, "");
  win2_acctNo = input(125, 50, 60, "Account No...:");
  win2_acctNoUp = new Fl_Button(185, 46, 13, 13, "@-2redo");
  win2_acctNoUp->box(FL_THIN_UP_BOX);
  win2_acctNoUp->callback(win2_acctNoUp_callback);
  win2_acctNoDown = new Fl_Button(185, 60, 13, 13, "@-2undo");
  win2_acctNoDown->box(FL_THIN_UP_BOX);
  win2_acctNoDown->callback(win2_acctNoDown_callback);
  win2_acctNoDesc = new Fl_Output(225, 50, 300, 20);
  win2_acctNoDesc->box(FL_FLAT_BOX);
  win2_acctNoDesc->textcolor(FL_BLUE);
  win2_acctNoDesc->color(grey225());
  win2_key_cancel = new Fl_Button(535, 50, 50, 20, "Cancel");
  win2_key_cancel->callback(win2_key_cancel_callback);
  win2_key->end();

  win2_details = new Fl_Group(25, 95, 585, 175);
  win2_details_decoration = new Fl_Box(FL_THIN_UP_BOX, 25, 95, 585, 175, "");
  win2_description = input(125, 105, 300, "Description..:");
  win2_description->maximum_size(static_cast<int>(l1_DescriptionWidth));
  win2_flag1 = new Fl_Choice(125, 130, 45, 20, "Flag1..:");
  win2_flag2 = flag_spinner(220, "Flag2..:");
  win2_flag3 = flag_spinner(305, "Flag3..:");
  win2_flag4 = flag_spinner(390, "Flag4..:");
  win2_balid = new Fl_Choice(125, 155, 45, 20, "Debit/Credit..:");
  win2_cntlacctno = input(125, 180, 55, "Cntrl Acct..:");
  win2_cntlacctno->maximum_size(static_cast<int>(l1_AcctNoWidth));
  win2_depreciation = input(125, 205, 55, "Depreciation..:");
  win2_unitprice = input(125, 230, 100, "Unit Price..:");
  win2_details_cancel = new Fl_Button(475, 230, 50, 20, "Cancel");
  win2_details_cancel->callback(win2_details_cancel_callback);
  win2_details_okay = new Fl_Button(535, 230, 50, 20, "Okay");
  win2_details_okay->callback(win2_details_okay_callback);
  win2_details->end();

  // The group reaches down to the browser's last line: a group hands events
  // only to the parts of its children that lie inside it.
  win2_acctlist = new Fl_Group(25, 295, 585, 242);
  win2_head1 = new Fl_Box(25, 280, 65, 15, "Acct No");
  win2_head1->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  win2_head2 = new Fl_Box(90, 280, 520, 15, "Description");
  win2_head2->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  win2_browser = new Fl_Browser(25, 297, 585, 240);
  win2_browser->type(FL_MULTI_BROWSER);
  win2_browser->textcolor(FL_BLUE);
  win2_browser->callback(win2_browser_callback);
  win2_acctlist->end();

  win2_help = new Fl_Box(25, 545, 585, 25, "(F5) Accept");
  win2_help->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  win2_chart->end();

  win2_tabs = new Fl_Tabs(25, 50, 425, 225);
  win2_grp1 = new Fl_Group(25, 75, 425, 200, "Transaction");
  win2_trans_cancel = new Fl_Button(390, 245, 50, 20, "Cancel");
  win2_trans_cancel->callback(win2_trans_cancel_callback);
  win2_grp1->end();
  win2_grp2 = new Fl_Group(25, 75, 425, 200, "Investment");
  win2_grp2->end();
  win2_grp3 = new Fl_Group(25, 75, 425, 200, "Dividends");
  win2_grp3->end();
  win2_tabs->end();

  win2->end();
  win2->callback(windowExit_callback);
  win2->hotspot(30, 30);
  win2->set_modal();
  return win2;
}

// ---- callbacks ---------------------------------------------------------

int eventHandler(int event, Fl_Window* w) {
  if (event == FL_KEYDOWN) {
    if (Fl::event_key() == FL_Escape) {
      event = 0;  // Escape closes nothing
    } else if (Fl::event_key() == FL_F + 5 && windowNo == 2) {
      show_message(ledger_optionNotDefined);
    }
  }
  return Fl::handle_(event, w);
}

void windowExit_callback(Fl_Widget* w, void*) {
  --windowNo;
  w->hide();
}

// Show the message window with `text`.  It counts as one more window only
// when it was not already showing.
void show_message(const char* text) {
  if (!message) return;
  message_text->copy_label(text);
  if (!message->shown() || !message->visible()) ++windowNo;
  message->show();
}

void warning_message(Fl_Widget*, void*) { show_message(ledger_menuNotDefined); }

void win1_spinner1_callback(Fl_Widget*, void*) {
  win1_A01_No = static_cast<int>(win1_company->value());
  int direction = win1_A01_No > previousA01_No ? 1 : win1_A01_No < previousA01_No ? -1 : 0;
  if (l1_Call(c_A01_Read, direction) == l1_StatusDone) previousA01_No = company_number();
  show_company();
  win1->redraw();
}

void win1_but2_callback(Fl_Widget*, void*) {
  win1_but2->value(0);
  // The window is built anew each time; the previous one goes first.
  if (win2) {
    if (win2->shown()) --windowNo;
    win2->hide();
    delete win2;
    win2 = nullptr;
  }
  make_window2();
  for (const char* code : flag1) win2_flag1->add(code);
  for (const char* code : balID) win2_balid->add(code);
  win2_coa_key();
  win2_coa_transactions();
  ++windowNo;
  win2_chart->hide();
  win2_tabs->hide();
  win2_menuBar->activate();
  win2->show();
}

void win2_menu_Exit(Fl_Widget*, void*) { windowExit_callback(win2); }

void win2_showChart(Fl_Widget*, void*) {
  win2_B01_No = 1;
  win2_get_acctNo(false);
  win2_menuBar->deactivate();
  win2_tabs->hide();
  win2_chart->show();
  win2->redraw();
}

void win2_showTrans(Fl_Widget*, void*) {
  win2_menuBar->deactivate();
  win2_chart->hide();
  win2_tabs->show();
}

void win2_coa_key() {
  win2_key->activate();
  win2_browser->activate();
  win2_details->deactivate();
}

void win2_coa_details() {
  win2_key->deactivate();
  win2_browser->deactivate();
  win2_details->activate();
}

void win2_coa_transactions() {
  static const int widths[] = {65, 300, 0};
  win2_browser->column_widths(widths);
  win2_browser->column_char('\t');
  // The list is rebuilt from the logic each time, so it never holds stale
  // or doubled lines.
  win2_browser->clear();
  for (int n = 1; l1_Call(c_B01_Read, n) == l1_StatusDone; ++n) {
    // "@." ends the format prefix, so text that begins with '@' is shown
    // as typed rather than taken for a format command.
    const char* stripe = n % 2 == 0 ? kStripe : "";
    str = std::string(stripe) + "@." + l1_WordText(b01_acctno, l1_AcctNoWidth) + "\t" + stripe +
          "@." + l1_WordText(b01_description, l1_DescriptionWidth);
    win2_browser->insert(n, str.c_str());
  }
}

void win2_get_acctNo(bool details) {
  if (l1_Call(c_B01_Read, win2_B01_No) != l1_StatusDone) {
    --win2_B01_No;
    return;
  }
  win2_acctNo->value(l1_WordText(b01_acctno, l1_AcctNoWidth).c_str());
  win2_acctNoDesc->value(l1_WordText(b01_description, l1_DescriptionWidth).c_str());
  if (details) {
    win2_description->value(l1_Trimmed(l1_WordText(b01_description, l1_DescriptionWidth)).c_str());
    choose(win2_flag1, ledger_codeIndex(flag1, 13, b01_flag1));
    win2_flag2->value(static_cast<double>(whole_value(b01_flag2)));
    win2_flag3->value(static_cast<double>(whole_value(b01_flag3)));
    win2_flag4->value(static_cast<double>(whole_value(b01_flag4)));
    choose(win2_balid, ledger_codeIndex(balID, 2, b01_balid));
    win2_cntlacctno->value(l1_Trimmed(l1_WordText(b01_cntlacctno, l1_AcctNoWidth)).c_str());
    str = std::to_string(whole_value(b01_depreciation));
    win2_depreciation->value(str.c_str());
    str = l1_GetRational(b01_unitprice);
    win2_unitprice->value(str.c_str());
  }
  win2->redraw();
}

void win2_acctNoUp_callback(Fl_Widget*, void*) {
  ++win2_B01_No;
  win2_get_acctNo(false);
}

void win2_acctNoDown_callback(Fl_Widget*, void*) {
  if (win2_B01_No > 1) {
    --win2_B01_No;
    win2_get_acctNo(false);
  }
}

void win2_browser_callback(Fl_Widget*, void*) {
  int line = win2_browser->value();
  if (line < 1) return;  // a click beside the lines selects no account
  win2_B01_No = line;
  win2_get_acctNo(true);
  win2_coa_details();
}

// A flag spinner's value, kept inside its range.
static int64_t flag_value(Fl_Spinner* s) {
  double v = s->value();
  if (v < s->minimum()) v = s->minimum();
  if (v > s->maximum()) v = s->maximum();
  return static_cast<int64_t>(v);
}

// The unit price as entered, cut to at most four digits after its first
// '.'.
static std::string unit_price_entry(std::string price) {
  size_t dot = price.find('.');
  if (dot != std::string::npos && price.size() > dot + 5) price.resize(dot + 5);
  return price;
}

void win2_details_okay_callback(Fl_Widget*, void*) {
  l1_PutWord(b01_description, l1_DescriptionWidth, win2_description->value());
  if (win2_flag1->value() >= 0) l1_PutWord(b01_flag1, l1_CodeWidth, flag1[win2_flag1->value()]);
  l1_SetNumberValue(b01_flag2, flag_value(win2_flag2) * l1_NumberScale(b01_flag2));
  l1_SetNumberValue(b01_flag3, flag_value(win2_flag3) * l1_NumberScale(b01_flag3));
  l1_SetNumberValue(b01_flag4, flag_value(win2_flag4) * l1_NumberScale(b01_flag4));
  if (win2_balid->value() >= 0) l1_PutWord(b01_balid, l1_CodeWidth, balID[win2_balid->value()]);
  l1_PutWord(b01_cntlacctno, l1_AcctNoWidth, win2_cntlacctno->value());

  // Entries that are not numbers, or do not fit their field, leave the
  // field as it was; the user is told which one.
  std::string refused;
  int64_t v;
  std::string depreciation = win2_depreciation->value();
  if (depreciation.find('.') == std::string::npos &&
      l1_PutRational(b01_depreciation, depreciation, &v))
    l1_SetNumberValue(b01_depreciation, v);
  else
    refused = "Depreciation not saved: enter a whole\n number from 0 to " +
              std::string(static_cast<size_t>(l1_PictureIntegerDigits(b01_depreciation)), '9');
  if (l1_PutRational(b01_unitprice, unit_price_entry(win2_unitprice->value()), &v))
    l1_SetNumberValue(b01_unitprice, v);
  else
    refused += std::string(refused.empty() ? "" : "\n") +
               "Unit price not saved: enter a number\n from 0 to " +
               std::string(static_cast<size_t>(l1_PictureIntegerDigits(b01_unitprice)), '9') +
               ".9999";

  l1_Call(c_B01_Write, win2_B01_No);
  win2_coa_transactions();
  win2_coa_key();
  if (!refused.empty()) show_message(refused.c_str());
}

void win2_details_cancel_callback(Fl_Widget*, void*) { win2_coa_key(); }

void win2_key_cancel_callback(Fl_Widget*, void*) {
  win2_chart->hide();
  win2_tabs->hide();
  win2_menuBar->activate();
  win2->show();
}

void win2_trans_cancel_callback(Fl_Widget* w, void* d) { win2_key_cancel_callback(w, d); }

// ---- start-up ----------------------------------------------------------

bool ledger_start() {
  // Starting again (tests do) replaces the windows of the previous start.
  for (Fl_Window** w : {reinterpret_cast<Fl_Window**>(&win2), &win1, &message}) {
    delete *w;
    *w = nullptr;
  }
  Fl::event_dispatch(eventHandler);
  Fl::scheme("base");
  Fl::background(225, 225, 225);
  FL_NORMAL_SIZE = 11;
  if (l1_HouseKeeping() != l1_StatusDone || !a01_no || !a01_name || !b01_unitprice) {
    fprintf(stderr, "ledger: the program logic did not start\n");
    return false;
  }
  make_window0();
  make_window1();
  previousA01_No = company_number();
  show_company();
  windowNo = 1;
  return true;
}

// Resident set size in kB, from /proc.
static long resident_kb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, "VmRSS:", 6) == 0) kb = strtol(line + 6, nullptr, 10);
  fclose(f);
  return kb;
}

// Milliseconds since the process started, from /proc (10 ms resolution).
static long ms_since_start() {
  FILE* f = fopen("/proc/self/stat", "r");
  if (!f) return -1;
  char buf[1024];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = 0;
  const char* p = strrchr(buf, ')');
  if (!p) return -1;
  // Field 22 (starttime) counted from field 3, which follows ") ".
  p += 2;
  for (int field = 3; field < 22 && *p; ++p)
    if (*p == ' ') ++field;
  unsigned long long start_ticks = strtoull(p, nullptr, 10);
  timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  long hz = sysconf(_SC_CLK_TCK);
  double start_ms = 1000.0 * static_cast<double>(start_ticks) / static_cast<double>(hz);
  return static_cast<long>(now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - start_ms);
}

int ledger_main(int argc, char** argv) {
  if (!ledger_start()) return 1;
  win1->show(argc, argv);
  // LEDGER_STARTUP_PROBE=1: report the time to the first drawn window and
  // the resident size, then end (used to measure start-up).
  if (const char* probe = getenv("LEDGER_STARTUP_PROBE"); probe && *probe == '1') {
    win1->wait_for_expose();
    Fl::flush();
    printf("ledger: first window shown after %ld ms, resident %ld kB\n", ms_since_start(),
           resident_kb());
    return 0;
  }
  return Fl::run();
}
