// The station layer's test classes, each registered in its own file.
#include "support/testmain.h"

#include <QCoreApplication>

MORVEN_TEST_MAIN_ALL(QCoreApplication)
