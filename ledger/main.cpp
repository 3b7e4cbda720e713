// The ledger program: company selector and chart of accounts.
#include "windows.h"

int main(int argc, char** argv) { return ledger_main(argc, argv); }
