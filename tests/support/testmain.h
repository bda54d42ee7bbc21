// One executable for a layer's tests: runs several QtTest classes in turn.
#pragma once

#include <QTest>

namespace morven::test {

template <class... Tests> int runTests(int argc, char **argv)
{
    int failed = 0;
    (
        [&] {
            Tests tests;
            failed += QTest::qExec(&tests, argc, argv);
        }(),
        ...);
    return failed;
}

} // namespace morven::test

// MORVEN_TEST_MAIN(QApplication, WindowLayout, WindowFiles) in place of QTEST_MAIN.
#define MORVEN_TEST_MAIN(Application, ...)                                                                             \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        Application app(argc, argv);                                                                                   \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return morven::test::runTests<__VA_ARGS__>(argc, argv);                                                        \
    }
