#pragma once
// Mirroring: copies a remote folder tree into a local folder over any remote file system (FTP,
// FTP over TLS, SFTP, or a pooled connection of these). The walk is breadth-first: the files of
// a folder in listing order, then its subfolders in the order they were found.
//
// The server is not trusted:
// - a listing name that is empty, "." or "..", or holds "/", "\", NUL, CR or LF is skipped with
//   a note; it never becomes part of a path;
// - every local folder and file is checked to lie under the mirror root once the symbolic
//   links that exist on the local side are resolved, so nothing is written outside the root;
// - a file is received under a temporary name beside its target and renamed over it only when
//   complete, so a broken or cancelled transfer keeps the old copy;
// - remote paths are built from the folder queued, each remote folder is entered at most once,
//   links that lead to a folder above themselves or into the tree being copied are not followed
//   (a link that cannot be entered is copied as a file), and the depth and the number
//   of folders are bounded, so link loops end.
// A failed step asks whether to go on; going on skips that file or folder.

#include "core/net/RemoteFileSystem.h"
#include "core/platform/EventLoop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace morvane::net {

// Why a listing name may not be used as a file or folder name; "" when it may.
std::string MirrorNameProblem(std::string_view name);

// The name as one line of text: control characters and backslashes escaped (\x0a, \\).
std::string MirrorShownName(std::string_view name);

// Creates the folder and every missing folder above it; "" or why it could not.
std::string CreateLocalFolders(const std::string& path);

struct TMirrorSummary {
    int files = 0;   // files copied
    int folders = 0; // remote folders entered
    int skipped = 0; // names and folders left out on purpose
    int failed = 0;  // steps that failed
    std::int64_t bytes = 0;
    bool completed = false; // walked to the end (with or without failures)
    bool cancelled = false;
};

class TMirrorWalk {
public:
    struct Events {
        std::function<void(const std::string& text)> status;
        // Bytes received of the file being copied.
        std::function<void(std::int64_t bytes)> progress;
        // A line for the output: a name skipped, a step that failed.
        std::function<void(const std::string& line)> note;
        // A file has been copied.
        std::function<void(const std::string& remote, const std::string& local, std::int64_t bytes)>
            file;
        // A step failed (message says why): true goes on with the next step, false stops.
        // Unset: goes on.
        std::function<bool(const std::string& message)> askContinue;
        // The walk has ended: finished, stopped, refused or cancelled (once). message: for the
        // user ("Finished mirroring to ROOT" when completed).
        std::function<void(const TMirrorSummary& summary, const std::string& message)> finished;
    };

    TMirrorWalk(platform::EventLoop& loop, TRemoteFileSystem& fs);
    ~TMirrorWalk();
    TMirrorWalk(const TMirrorWalk&) = delete;
    TMirrorWalk& operator=(const TMirrorWalk&) = delete;

    Events events;
    int maxDepth = 100;              // folder levels below the start
    std::size_t maxFolders = 100000; // remote folders entered in one walk

    // Connects when the file system is not connected yet. remoteStart: the remote folder to
    // copy ("" the login folder; a relative path is taken from the login folder). localRoot:
    // an existing local folder.
    void Start(const std::string& remoteStart, const std::string& localRoot);
    // Ends the running transfer (its partial file is removed) and the walk, without questions.
    void Cancel();
    bool Running() const { return running_; }
    const TMirrorSummary& Summary() const { return summary_; }

private:
    struct Folder {
        std::string remote;      // absolute where the server gives absolute paths
        std::string parent;      // the remote folder it was listed in
        std::string localParent; // the resolved local folder it goes into
        std::string name;        // "" for the start folder
        int depth = 0;
        bool link = false;
        std::string linkTarget;
    };

    void Connected(const TRemoteResult& r);
    void Next();
    void Step();
    void Enter(const Folder& f);
    void Entered(const Folder& f, const TRemoteResult& r);
    void Listed(const TRemoteResult& r);
    void GetFile(const std::string& remoteName, const std::string& localDir,
                 const std::string& name);
    void DropDownload(); // closes and removes the temporary file of a transfer that ends
    void Failed(const TRemoteResult& r, const std::string& what);
    void Skip(const std::string& line);
    void Finish(const std::string& message, bool completed);
    bool Inside(const std::string& real) const;
    // The resolved local folder for name in parent, made when missing; "" with error set.
    std::string LocalFolder(const std::string& parent, const std::string& name, std::string& error);
    static std::string Join(const std::string& folder, const std::string& name);

    platform::EventLoop& loop_;
    TRemoteFileSystem& fs_;
    bool running_ = false;
    bool cancelled_ = false;
    std::string rootShown_; // as the user gave it
    std::string root_;      // resolved
    std::string start_;
    std::string top_; // the remote folder copied, as the walk enters it
    Folder current_;
    std::string currentLocal_; // the resolved local folder of current_
    std::deque<std::string> files_;
    std::deque<Folder> folders_;
    std::set<std::string> entered_;
    TMirrorSummary summary_;
    // The file being received: its temporary file, where it goes, and what went wrong locally.
    struct Download {
        int fd = -1;
        std::string temp, target, local, remote;
        std::int64_t bytes = 0;
        int error = 0;
    };
    Download download_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace morvane::net
