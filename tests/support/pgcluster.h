// The throwaway PostgreSQL cluster that CTest starts for a run (scripts/pg-cluster), for the
// tests of a line of stations sharing one record database.
#pragma once

#include <QString>

namespace morven::test {

// A new, empty database of the run's cluster, reached through its Unix socket only; stops the
// test program when there is no cluster or the URI would leave this machine.
QString pgDatabase(const QString &name);

// Stops the server, keeping its data, and starts it again: a database that goes away.
void pgPause();
void pgResume();

} // namespace morven::test
