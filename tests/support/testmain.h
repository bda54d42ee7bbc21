// One executable for a layer's tests: runs the QtTest classes of its files in turn. Options go to
// every class; a function is named "Class::function[:tag]" and goes to its class only, "Class::"
// names the whole class, and once any is named only the classes named run. "--without Class"
// leaves a class out (CTest runs a layer's tests that need a server as a test of their own).
#pragma once

#include <algorithm>
#include <QByteArray>
#include <QTest>

#include <cstdio>
#include <vector>

// QTRY_COMPARE_WITH_TIMEOUT, except that a wait that fails fails at once: QTRY_* waits twice as
// long again to say whether more time would have helped.
#define MORVEN_WAIT_COMPARE(actual, expected, ms)                                                                      \
    do {                                                                                                               \
        if (!QTest::qWaitFor([&] { return (actual) == (expected); }, ms))                                              \
            QCOMPARE(actual, expected);                                                                                \
    } while (false)

namespace morven::test {

// A class's QtTest run on an argument list whose first entry is the program and last a null.
using TestRun = int (*)(std::vector<char *> &);
struct RegisteredTest
{
    QByteArray name; // without its namespaces
    TestRun run;
};

template <class Test> int runTest(std::vector<char *> &argv)
{
    Test tests;
    return QTest::qExec(&tests, int(argv.size()) - 1, argv.data());
}

inline std::vector<RegisteredTest> &registeredTests()
{
    static std::vector<RegisteredTest> tests;
    return tests;
}
template <class Test> bool registerTest()
{
    const QByteArray name = Test::staticMetaObject.className();
    registeredTests().push_back({name.mid(name.lastIndexOf(':') + 1), &runTest<Test>});
    return true;
}

// A name no class has counts as a failure.
inline int runRegisteredTests(int argc, char **argv)
{
    std::vector<char *> options{argv[0]};
    std::vector<QByteArray> functions, without;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--without" && i + 1 < argc)
            without.emplace_back(argv[++i]);
        else if (QByteArray(argv[i]).contains("::"))
            functions.emplace_back(argv[i]);
        else
            options.push_back(argv[i]);
    int failed = 0;
    std::vector<bool> claimed(functions.size(), false);
    for (const RegisteredTest &test : registeredTests()) {
        std::vector<QByteArray> mine;
        bool named = false;
        for (std::size_t f = 0; f < functions.size(); ++f)
            if (functions[f].startsWith(test.name + "::")) {
                if (functions[f].size() > test.name.size() + 2)
                    mine.push_back(functions[f].mid(test.name.size() + 2));
                named = claimed[f] = true;
            }
        if ((!functions.empty() && !named) || std::find(without.begin(), without.end(), test.name) != without.end())
            continue;
        std::vector<char *> args = options;
        for (QByteArray &function : mine)
            args.push_back(function.data());
        args.push_back(nullptr);
        failed += test.run(args);
    }
    for (std::size_t f = 0; f < functions.size(); ++f)
        if (!claimed[f]) {
            std::fprintf(stderr, "%s: no test class has '%s'\n", argv[0], functions[f].constData());
            ++failed;
        }
    return failed;
}

} // namespace morven::test

// MORVEN_TEST_CLASS(Records) after a class in any file; MORVEN_TEST_MAIN_ALL(QCoreApplication) once.
#define MORVEN_TEST_CLASS(Class) [[maybe_unused]] static const bool registered##Class = morven::test::registerTest<Class>();
#define MORVEN_TEST_MAIN_ALL(Application)                                                                              \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        Application app(argc, argv);                                                                                   \
        return morven::test::runRegisteredTests(argc, argv);                                                           \
    }
