#include "ctl/history.h"

namespace {

// Hands a result's value to out, or prints its failure; returns whether it had a value.
template <class T>
bool Take(TCtlIo& io, TResult<T>&& result, T& out) {
  if (!result) {
    PrintHistoryFailure(io, result.Failure());
    return false;
  }
  out = std::move(result).Value();
  return true;
}

}  // namespace

void PrintHistoryFailure(TCtlIo& io, const TFailure& failure) {
  const TResult<QString> path = TRunStore::DefaultPath();
  PrintFailure(io, {path ? *path + QStringLiteral(": ") + failure.Message : failure.Message, failure.Explanation});
}

bool OpenRunHistory(TCtlIo& io, TRunStore& store, TStoreAccess access) {
  const TResult<QString> path = TRunStore::DefaultPath();
  const TResult<void> opened = path ? store.Open(*path, access) : TResult<void>(path.Failure());
  if (!opened) PrintHistoryFailure(io, opened.Failure());
  return opened.Ok();
}

bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run) {
  const TResult<void> stored = store.Insert(run);
  if (!stored) PrintHistoryFailure(io, stored.Failure());
  return stored.Ok();
}

bool ListRuns(TCtlIo& io, TRunStore& store, int last, std::vector<TRunListing>& listings) {
  return Take(io, store.List(last), listings);
}

bool LoadRuns(TCtlIo& io, TRunStore& store, const std::vector<qint64>& ids, std::vector<TStepRun>& runs) {
  return Take(io, store.Load(ids), runs);
}
