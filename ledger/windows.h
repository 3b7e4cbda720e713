// The ledger's windows: widget handles, builders and callbacks.
//
// main() lives in main.cpp; everything here is reachable from tests, which
// build the windows and drive the callbacks directly.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Spinner.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Window.H>

#include <string>

// State.
extern int windowNo;
extern std::string str;
extern int previousA01_No;
extern int win1_A01_No;
extern int win2_B01_No;

// Code lists.
extern const char* const flag1[13];
extern const char* const balID[2];

// Message texts.
extern const char* const ledger_menuNotDefined;
extern const char* const ledger_optionNotDefined;

// Widgets.
extern Fl_Window* message;
extern Fl_Box* message_text;
extern Fl_Window* win1;
extern Fl_Spinner* win1_company;
extern Fl_Box* win1_companyDesc;
extern Fl_Box* win1_decoration;
extern Fl_Output* win1_title;
extern Fl_Round_Button *win1_but1, *win1_but2, *win1_but3;
extern Fl_Double_Window* win2;
extern Fl_Menu_Bar* win2_menuBar;
extern Fl_Tabs* win2_tabs;
extern Fl_Group *win2_grp1, *win2_grp2, *win2_grp3;
extern Fl_Button* win2_trans_cancel;
extern Fl_Group* win2_chart;
extern Fl_Group* win2_key;
extern Fl_Box* win2_key_decoration;
extern Fl_Input* win2_acctNo;
extern Fl_Button *win2_acctNoUp, *win2_acctNoDown;
extern Fl_Output* win2_acctNoDesc;
extern Fl_Button* win2_key_cancel;
extern Fl_Group* win2_details;
extern Fl_Box* win2_details_decoration;
extern Fl_Input* win2_description;
extern Fl_Choice* win2_flag1;
extern Fl_Spinner *win2_flag2, *win2_flag3, *win2_flag4;
extern Fl_Choice* win2_balid;
extern Fl_Input *win2_cntlacctno, *win2_depreciation, *win2_unitprice;
extern Fl_Button *win2_details_cancel, *win2_details_okay;
extern Fl_Group* win2_acctlist;
extern Fl_Box *win2_head1, *win2_head2;
extern Fl_Browser* win2_browser;
extern Fl_Box* win2_help;
extern Fl_Menu_Item menu_items[];

// Builders.
Fl_Window* make_window0();
Fl_Window* make_window1();
Fl_Double_Window* make_window2();

// Event dispatcher and callbacks.
int eventHandler(int event, Fl_Window* w);
void windowExit_callback(Fl_Widget* w, void* = nullptr);
void warning_message(Fl_Widget* = nullptr, void* = nullptr);
void show_message(const char* text);
void win1_spinner1_callback(Fl_Widget* = nullptr, void* = nullptr);
void win1_but2_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_menu_Exit(Fl_Widget* = nullptr, void* = nullptr);
void win2_showChart(Fl_Widget* = nullptr, void* = nullptr);
void win2_showTrans(Fl_Widget* = nullptr, void* = nullptr);
void win2_coa_key();
void win2_coa_details();
void win2_coa_transactions();
void win2_get_acctNo(bool details);
void win2_acctNoUp_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_acctNoDown_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_browser_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_details_okay_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_details_cancel_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_key_cancel_callback(Fl_Widget* = nullptr, void* = nullptr);
void win2_trans_cancel_callback(Fl_Widget* = nullptr, void* = nullptr);

// Index of a code in a list of `count` two-character codes, -1 when absent.
int ledger_codeIndex(const char* const* codes, int count, const char* code);

// Start-up: dispatcher, scheme, colours, logic, windows 0 and 1.  Returns
// false when the logic could not be initialised.
bool ledger_start();
// The whole program.
int ledger_main(int argc, char** argv);
