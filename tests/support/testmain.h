// One executable for a layer's tests: runs the QtTest classes of its files in turn, each with
// the arguments meant for it.
#pragma once

#include <QByteArray>
#include <QMetaMethod>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace morven::test {

// A class's QtTest run on an argument list whose first entry is the program.
using TestRun = int (*)(const std::vector<QByteArray> &);
struct RegisteredTest
{
    const QMetaObject *meta;
    TestRun run;
};

template <class Test> int runTest(const std::vector<QByteArray> &args)
{
    std::vector<char *> argv;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    Test tests;
    return QTest::qExec(&tests, int(args.size()), argv.data());
}

inline std::vector<RegisteredTest> &registeredTests()
{
    static std::vector<RegisteredTest> tests;
    return tests;
}
template <class Test> bool registerTest()
{
    registeredTests().push_back({&Test::staticMetaObject, &runTest<Test>});
    return true;
}

// QtTest options followed by a value, which goes along with them.
inline bool optionTakesValue(const QByteArray &option)
{
    static const char *const withValue[] = {"-o", "-maxwarnings", "-eventdelay", "-keydelay", "-mousedelay", "-seed",
        "-repeat", "-iterations", "-median", "-minimumvalue", "-minimumtotal", "-perfcounter", "-tickcounter"};
    return std::any_of(std::begin(withValue), std::end(withValue), [&](const char *o) { return option == o; });
}

// The class name without its namespaces, as a test names it in "Class::function".
inline QByteArray shortClassName(const QMetaObject &meta)
{
    const QByteArray name = meta.className();
    const qsizetype colons = name.lastIndexOf("::");
    return colons < 0 ? name : name.mid(colons + 2);
}

inline bool hasTestFunction(const QMetaObject &meta, const QByteArray &function)
{
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() == QMetaMethod::Slot && meta.method(i).name() == function)
            return true;
    return false;
}

// The argument, "Class::function[:tag]" or "function[:tag]", as this class takes it, or an
// empty text when it is not one of this class's functions.
inline QByteArray functionFor(const QMetaObject &meta, QByteArray arg)
{
    const qsizetype colons = arg.indexOf("::");
    if (colons >= 0) {
        if (arg.left(colons) != shortClassName(meta))
            return {};
        arg = arg.mid(colons + 2);
    }
    const qsizetype tag = arg.indexOf(':');
    return hasTestFunction(meta, tag < 0 ? arg : arg.left(tag)) ? arg : QByteArray();
}

// Runs every registered class with the options and the functions meant for it; a class none of
// the named functions belongs to does not run. A name no class has counts as a failure.
inline int runRegisteredTests(int argc, char **argv)
{
    std::vector<QByteArray> options{argv[0]};
    std::vector<QByteArray> functions;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg.startsWith('-')) {
            options.push_back(arg);
            if (optionTakesValue(arg) && i + 1 < argc)
                options.push_back(argv[++i]);
        } else {
            functions.push_back(arg);
        }
    }
    int failed = 0;
    std::vector<bool> claimed(functions.size(), false);
    for (const RegisteredTest &test : registeredTests()) {
        std::vector<QByteArray> args = options;
        for (std::size_t f = 0; f < functions.size(); ++f)
            if (const QByteArray mine = functionFor(*test.meta, functions[f]); !mine.isEmpty()) {
                args.push_back(mine);
                claimed[f] = true;
            }
        if (!functions.empty() && args.size() == options.size())
            continue;
        failed += test.run(args);
    }
    for (std::size_t f = 0; f < functions.size(); ++f)
        if (!claimed[f]) {
            std::fprintf(stderr, "%s: no test class has the function '%s'\n", argv[0], functions[f].constData());
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
