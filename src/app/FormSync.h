#pragma once
// How the window keeps its list view in step with the catalogue: while the
// view is set from the catalogue, what it reports is not the user's doing.

#include "ZoznamModel.h"

// Marks the view as being set from the catalogue, so that what the view
// reports meanwhile is not taken for the user's doing.
class Syncing {
public:
    explicit Syncing(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~Syncing() { flag_ = was_; }
    Syncing(const Syncing&) = delete;
    Syncing& operator=(const Syncing&) = delete;

private:
    bool& flag_;
    bool was_;
};

// Brackets a change of the display list for the view, even when the change
// fails half-way.
class ModelReset {
public:
    ModelReset(ZoznamModel& model, bool& syncing) : model_(model), syncing_(syncing) { model_.beginReset(); }
    ~ModelReset() { model_.endReset(); }
    ModelReset(const ModelReset&) = delete;
    ModelReset& operator=(const ModelReset&) = delete;

private:
    ZoznamModel& model_;
    Syncing syncing_;
};
