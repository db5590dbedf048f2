// IDataClient: the events a client process receives from its cDataClient.
#pragma once

#include "kora/types.h"
#include "tessel/export.h"

namespace tessel {

class cDataClient;
class cDBCollection;

class TESSEL_API IDataClient {
  public:
    // The connection is up, the log units are registered and the feature list is fresh.
    virtual void OnDataConnect(cDataClient* client) = 0;
    // The connection closed (registered collections are gone), or the server
    // did not take the client's log-unit registration right after connecting
    // (the client then stops). A server that cannot be reached calls nothing:
    // the client keeps trying until it connects.
    virtual void OnDataClose(cDataClient* client) = 0;
    // A registered collection finished a sync. Called before it commits, so
    // HasChanged() still compares the old contents with the new.
    virtual void OnCollectionSynced(cDataClient* client, cDBCollection* collection) = 0;
    virtual void OnRebootNotification(cDataClient* client) = 0;
    // The server asks for a dump of `path`; true answers that the dump is done.
    virtual bool OnDumpRequest(cDataClient* client, kora::s_string& path) = 0;

  protected:
    ~IDataClient() = default;
};

// An IDataClient that ignores every event and answers dump requests as done:
// a process derives from it and overrides only the events it needs.
class TESSEL_API cDataEvents : public IDataClient {
  public:
    virtual ~cDataEvents() = default;
    void OnDataConnect(cDataClient*) override {}
    void OnDataClose(cDataClient*) override {}
    void OnCollectionSynced(cDataClient*, cDBCollection*) override {}
    void OnRebootNotification(cDataClient*) override {}
    bool OnDumpRequest(cDataClient*, kora::s_string&) override { return true; }
};

}  // namespace tessel
