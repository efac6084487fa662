#include "ctl/history.h"

bool OpenRunHistory(TCtlIo& io, TRunStore& store, TStoreAccess access) {
  const QString path = TRunStore::DefaultPath();
  QString error;
  if (store.Open(path, error, 3000, access)) return true;
  PrintError(io, path, error);
  return false;
}

bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run) {
  QString error;
  if (store.Insert(run, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

bool ListRuns(TCtlIo& io, TRunStore& store, int last, std::vector<TRunListing>& listings) {
  QString error;
  if (store.List(last, listings, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

bool LoadRuns(TCtlIo& io, TRunStore& store, const std::vector<qint64>& ids, std::vector<TStepRun>& runs) {
  QString error;
  if (store.Load(ids, runs, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

