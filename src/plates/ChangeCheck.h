#pragma once
// A plugin may answer Done for a change it keeps in a batch and commits
// later. A batch that then fails (a full disk) takes back every change in
// it, while the plugin can fail only the change at hand; a batch that
// fails when the action is closed is not answered at all. So a run that
// changed plates counts them again before it reports: closing the action
// makes every change answered Done durable or lost, and opening it again
// shows which.

#include <cstdint>
#include <vector>

class PlateList;
class StorageAction;

enum class ChangeKind { Stored, Deleted };

// Closes and opens `action` again and keeps in `indices` (plates of
// `plates` whose change was answered Done, in the order changed) those that
// are as the change left them: a stored plate there, a deleted one gone.
// When no change of the run failed, the last one alone is looked up:
// batches commit in order, so the last durable means all are. False when
// the storage cannot be opened again (the action is then closed, the last
// error set and `indices` unchanged).
bool KeepDurableChanges(StorageAction& action, const PlateList& plates, std::vector<int>* indices, ChangeKind kind,
                        bool someFailed);

// The listed sizes of the plates at `indices` added up: the bytes a run
// changed.
uint64_t ListedBytes(const PlateList& plates, const std::vector<int>& indices);
