// One executable for a layer's tests: runs the QtTest classes of its files in turn.
#pragma once

#include <QTest>

#include <vector>

namespace morven::test {

template <class Test> int runTest(int argc, char **argv)
{
    Test tests;
    return QTest::qExec(&tests, argc, argv);
}

// Test classes defined in several files of one executable, run by MORVEN_TEST_MAIN_ALL.
using TestRun = int (*)(int, char **);
inline std::vector<TestRun> &registeredTests()
{
    static std::vector<TestRun> tests;
    return tests;
}
template <class Test> bool registerTest()
{
    registeredTests().push_back(&runTest<Test>);
    return true;
}

} // namespace morven::test

// MORVEN_TEST_CLASS(Records) after a class in any file; MORVEN_TEST_MAIN_ALL(QCoreApplication) once.
#define MORVEN_TEST_CLASS(Class) [[maybe_unused]] static const bool registered##Class = morven::test::registerTest<Class>();
#define MORVEN_TEST_MAIN_ALL(Application)                                                                              \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        Application app(argc, argv);                                                                                   \
        int failed = 0;                                                                                                \
        for (const morven::test::TestRun run : morven::test::registeredTests())                                       \
            failed += run(argc, argv);                                                                                 \
        return failed;                                                                                                 \
    }
