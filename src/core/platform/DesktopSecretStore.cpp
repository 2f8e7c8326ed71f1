#include "core/platform/SecretStore.h"

#include <libsecret/secret.h>

#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace morvane::platform {

namespace {

constexpr const char* kNoBus = "There is no desktop session bus, so no keyring to ask.";

// GLib would start a bus of its own (autolaunch) when none is set; without one there is no
// keyring to talk to.
bool haveSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    struct stat st {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// Set by takeError on the worker thread: the failure came from a connection to a daemon that has
// gone (or been replaced), so the request is worth one more try on a fresh connection.
thread_local bool staleConnection = false;

bool isStale(const GError* error) {
    if (error->domain == G_DBUS_ERROR)
        return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
               error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
               error->code == G_DBUS_ERROR_UNKNOWN_OBJECT;
    // A daemon started again knows nothing of the old session ("the session wrapping the secret
    // does not exist"), an error libsecret passes on unnamed. A locked keyring has its own error.
    return error->domain == G_IO_ERROR &&
           (error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_DBUS_ERROR);
}

std::string takeError(GError* error, const char* fallback) {
    if (!error) return fallback;
    staleConnection = isStale(error);
    std::string text = error->message ? error->message : fallback;
    g_error_free(error);
    return text;
}

// A table of attributes borrowing the map's strings.
GHashTable* attributeTable(const SecretAttributes& attributes) {
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    for (const auto& [name, value] : attributes)
        g_hash_table_insert(table, const_cast<char*>(name.c_str()),
                            const_cast<char*>(value.c_str()));
    return table;
}

// The service connection; a failure drops libsecret's shared connection so that the next
// request starts afresh (the daemon may have gone away and come back).
SecretService* connect(GCancellable* cancel, std::string& error) {
    if (!haveSessionBus()) {
        error = kNoBus;
        return nullptr;
    }
    GError* e = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancel, &e);
    if (!service) {
        error = takeError(e, "The desktop keyring does not answer.");
        secret_service_disconnect();
    }
    return service;
}

SecretResult doProbe(GCancellable* cancel) {
    SecretResult r;
    if (SecretService* service = connect(cancel, r.error)) g_object_unref(service);
    return r;
}

SecretResult doSearch(GCancellable* cancel, const SecretAttributes& match) {
    SecretResult r;
    SecretService* service = connect(cancel, r.error);
    if (!service) return r;
    GHashTable* table = attributeTable(match);
    GError* e = nullptr;
    auto flags =
        SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
    GList* found = secret_service_search_sync(service, nullptr, table, flags, cancel, &e);
    g_hash_table_unref(table);
    if (e) {
        r.error = takeError(e, "");
        secret_service_disconnect();
    }
    for (GList* l = found; l; l = l->next) {
        auto* item = static_cast<::SecretItem*>(l->data);
        SecretValue* value = secret_item_get_secret(item);
        if (!value) {
            // Still locked after the unlock request: the user refused, or nobody can be asked.
            if (r.error.empty()) r.error = "The desktop keyring is locked.";
            continue;
        }
        SecretItem out;
        GHashTable* attributes = secret_item_get_attributes(item);
        GHashTableIter it;
        gpointer key, val;
        g_hash_table_iter_init(&it, attributes);
        while (g_hash_table_iter_next(&it, &key, &val))
            out.attributes[static_cast<const char*>(key)] = static_cast<const char*>(val);
        g_hash_table_unref(attributes);
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        out.secret.assign(bytes ? bytes : "", bytes ? length : 0);
        secret_value_unref(value);
        r.items.push_back(std::move(out));
    }
    g_list_free_full(found, g_object_unref);
    g_object_unref(service);
    if (!r.ok()) r.items.clear();
    return r;
}

SecretResult doStore(GCancellable* cancel, const SecretAttributes& attributes,
                     const std::string& label, const std::string& secret) {
    SecretResult r;
    SecretService* service = connect(cancel, r.error);
    if (!service) return r;
    GHashTable* table = attributeTable(attributes);
    SecretValue* value = secret_value_new(secret.data(), gssize(secret.size()), "text/plain");
    GError* e = nullptr;
    if (!secret_service_store_sync(service, nullptr, table, SECRET_COLLECTION_DEFAULT,
                                   label.c_str(), value, cancel, &e)) {
        r.error = takeError(e, "The desktop keyring did not store the password.");
        secret_service_disconnect();
    }
    secret_value_unref(value);
    g_hash_table_unref(table);
    g_object_unref(service);
    return r;
}

SecretResult doRemove(GCancellable* cancel, const SecretAttributes& match) {
    SecretResult r;
    SecretService* service = connect(cancel, r.error);
    if (!service) return r;
    GHashTable* table = attributeTable(match);
    GError* e = nullptr;
    // False without an error means nothing matched.
    if (!secret_service_clear_sync(service, nullptr, table, cancel, &e) && e) {
        r.error = takeError(e, "");
        secret_service_disconnect();
    }
    g_hash_table_unref(table);
    g_object_unref(service);
    return r;
}

class DesktopSecretStore final : public SecretStore {
public:
    DesktopSecretStore(EventLoop& loop, std::chrono::milliseconds timeout)
        : loop_(loop), timeout_(timeout), shared_(std::make_shared<Shared>()) {
        shared_->loop = &loop;
        shared_->deliver = [this](std::uint64_t id, SecretResult r) { finish(id, std::move(r)); };
        std::thread(&DesktopSecretStore::work, shared_).detach();
    }

    ~DesktopSecretStore() override {
        std::lock_guard lock(shared_->mutex);
        // Results still on their way are dropped; the worker ends after its current request
        // (cancelled here), so a stuck daemon never holds up the program's exit.
        shared_->alive = false;
        shared_->stop = true;
        for (auto& job : shared_->jobs)
            g_object_unref(job.cancel);
        shared_->jobs.clear();
        if (shared_->running) g_cancellable_cancel(shared_->running);
        shared_->wake.notify_all();
        for (auto& [id, p] : pending_) {
            loop_.cancelTimer(p.timer);
            g_object_unref(p.cancel);
        }
    }

    void probe(Done done) override {
        submit([](GCancellable* c) { return doProbe(c); }, std::move(done));
    }
    void search(SecretAttributes match, Done done) override {
        submit([match](GCancellable* c) { return doSearch(c, match); }, std::move(done));
    }
    void store(SecretAttributes attributes, std::string label, std::string secret,
               Done done) override {
        submit([attributes, label,
                secret](GCancellable* c) { return doStore(c, attributes, label, secret); },
               std::move(done));
    }
    void remove(SecretAttributes match, Done done) override {
        submit([match](GCancellable* c) { return doRemove(c, match); }, std::move(done));
    }

private:
    using Work = std::function<SecretResult(GCancellable*)>;
    struct Job {
        std::uint64_t id;
        Work work;
        GCancellable* cancel; // one reference held by the job
    };
    // What the worker and the loop share; it outlives the store while the worker runs.
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Job> jobs;
        GCancellable* running = nullptr;
        bool stop = false;
        bool alive = true; // read on the loop's thread before a result is delivered
        EventLoop* loop = nullptr;
        std::function<void(std::uint64_t, SecretResult)> deliver;
    };
    struct Pending {
        Done done;
        TimerId timer;
        GCancellable* cancel;
    };

    void submit(Work work, Done done) {
        std::uint64_t id = ++lastId_;
        GCancellable* cancel = g_cancellable_new();
        TimerId timer = loop_.addTimer(timeout_, false, [this, id] {
            finish(id, SecretResult{"The desktop keyring did not answer within " +
                                        std::to_string(timeout_.count() / 1000) + " seconds.",
                                    {}});
        });
        pending_[id] = Pending{std::move(done), timer, cancel};
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(Job{id, std::move(work), G_CANCELLABLE(g_object_ref(cancel))});
        shared_->wake.notify_one();
    }

    // Answers a request once: from the worker's result or from its timer, whichever is first.
    void finish(std::uint64_t id, SecretResult result) {
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        Pending p = std::move(it->second);
        pending_.erase(it);
        loop_.cancelTimer(p.timer);
        if (!result.ok()) g_cancellable_cancel(p.cancel); // a timed-out request stops waiting
        g_object_unref(p.cancel);
        if (p.done) p.done(std::move(result));
    }

    static void work(std::shared_ptr<Shared> shared) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(shared->mutex);
                shared->wake.wait(lock, [&] { return shared->stop || !shared->jobs.empty(); });
                if (shared->stop) return;
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
                shared->running = job.cancel;
            }
            SecretResult result{"Cancelled.", {}};
            for (int attempt = 0; attempt < 2 && !g_cancellable_is_cancelled(job.cancel);
                 ++attempt) {
                staleConnection = false;
                result = job.work(job.cancel);
                if (result.ok() || !staleConnection) break;
            }
            std::lock_guard lock(shared->mutex);
            shared->running = nullptr;
            g_object_unref(job.cancel);
            if (!shared->alive) return;
            shared->loop->post([shared, id = job.id, result = std::move(result)]() mutable {
                // The store may have gone since; its destructor ran on this thread.
                if (shared->alive) shared->deliver(id, std::move(result));
            });
        }
    }

    EventLoop& loop_;
    std::chrono::milliseconds timeout_;
    std::shared_ptr<Shared> shared_;
    std::unordered_map<std::uint64_t, Pending> pending_;
    std::uint64_t lastId_ = 0;
};

} // namespace

std::unique_ptr<SecretStore> makeDesktopSecretStore(EventLoop& loop,
                                                    std::chrono::milliseconds timeout) {
    return std::make_unique<DesktopSecretStore>(loop, timeout);
}

} // namespace morvane::platform
