#pragma once
// What the window says, once, about a save that another program or a kill
// interfered with: a catalogue put back from its journal at start-up,
// records another program wrote that a close could not take, and the copies
// a sync engine left of the catalogue.

#include <QString>
#include <QStringList>

#include <cstddef>

#include "store/CatalogueStore.h"

// A save at the session's end, where nobody reads a box: records that went
// to a conflict file said on standard error; returned, each file that could
// not be saved, with why ("Zoznam.dat (Disk full)").
QStringList tellOfSaveOnTerminal(const vrindel::SaveReport& report);

// A save killed in the middle was undone at start-up; `file` is the catalogue.
QString rolledBackText(const QString& file);
// ...or could not be undone, for `reason`.
QString notRolledBackText(const QString& file, const QString& reason);
// The reason of notRolledBackText for a journal that this user cannot
// apply: where it is and who can.
QString stuckReasonText(const QString& reason, const QString& journal, const QString& owner);
// Files named like the catalogue's journal that no save of it could have
// left: never applied nor removed.
QString refusedJournalsText(const QStringList& journals);
// `count` records another program wrote went to the conflict file `file`.
QString conflictsText(std::size_t count, const QString& file);
// Copies of the catalogue (`copies` of them) that a sync engine left hold
// `count` records the catalogue lacks: merge them?
QString copiesQuestion(std::size_t count, std::size_t copies);
// ...hold nothing it lacks, but deleted or moved `count` of its records:
// take those changes?
QString copiesChangesQuestion(std::size_t count, std::size_t copies);
// `count` records of the copies merged are listed with another location;
// the copies' locations went to the conflict file `file`.
QString copiesConflictsText(std::size_t count, const QString& file);
