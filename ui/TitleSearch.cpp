#include "ui/TitleSearch.h"

#include "cdaccess/CDRIP.h"
#include "metadata/CoverArt.h"
#include "platform/HttpClient.h"

long TTitleSearch::TimeoutSeconds = 10;

TTitleSearch::TTitleSearch(QObject* context) : Context(context) {}

TTitleSearch::~TTitleSearch() {
    Alive.reset(); // answers still queued for the window are dropped
    // A look-up still waiting for a server ends at once instead of at its time limit.
    Prune();
    if (!Threads.empty())
        Http::StopRunning();
    for (auto& thread : Threads)
        thread->wait();
}

void TTitleSearch::Prune() {
    std::erase_if(Threads, [](const std::unique_ptr<QThread>& t) { return t->isFinished(); });
}

Metadata::DiscTitles TTitleSearch::Start(const TCDRIP& ripper, bool lookup) {
    Prune();
    const unsigned generation = ++Generation;
    Local = Metadata::ReadLocalTitles(ripper);
    Result = {};
    Wanted.clear();
    CoverRunning = false;
    CoverNote.clear();
    Current = Metadata::JoinTitles(Local, {}, {});
    Running = lookup && !Local.Toc.Offsets.empty();
    if (!Running)
        return Current;
    auto result = std::make_shared<Metadata::LookupResult>();
    const Metadata::DiscToc toc = Local.Toc;
    const long timeout = TimeoutSeconds;
    std::unique_ptr<QThread> thread(
        QThread::create([result, toc, timeout] { *result = Metadata::LookUpDisc(toc, timeout); }));
    std::weak_ptr<bool> alive = Alive;
    QObject::connect(thread.get(), &QThread::finished, Context, [this, alive, generation, result] {
        if (alive.lock())
            Finished(generation, *result);
    });
    thread->start();
    Threads.push_back(std::move(thread));
    return Current;
}

void TTitleSearch::Finished(unsigned generation, const Metadata::LookupResult& result) {
    if (generation != Generation)
        return; // the answer for a disc that is no longer in the list
    Running = false;
    Result = result;
    Current = Metadata::JoinTitles(Local, result, {}, Wanted);
    StartCover();
    if (OnLookup)
        OnLookup(Current, result);
}

void TTitleSearch::StartCover() {
    CoverRunning = CoversWanted && !Current.Chosen.Id.empty();
    if (!CoverRunning)
        return;
    auto cover = std::make_shared<Metadata::CoverResult>();
    const std::string release = Current.Chosen.Id;
    const long timeout = TimeoutSeconds;
    std::unique_ptr<QThread> thread(QThread::create(
        [cover, release, timeout] { *cover = Metadata::FetchFrontCover(release, timeout); }));
    std::weak_ptr<bool> alive = Alive;
    const unsigned generation = Generation;
    QObject::connect(
        thread.get(), &QThread::finished, Context, [this, alive, generation, release, cover] {
            // A cover for a disc or a release no longer shown is dropped.
            if (!alive.lock() || generation != Generation || release != Current.Chosen.Id)
                return;
            CoverRunning = false;
            Current.Cover = cover->Image;
            CoverNote = cover->Message;
        });
    thread->start();
    Threads.push_back(std::move(thread));
}

bool TTitleSearch::ChooseRelease(const std::string& wanted) {
    Metadata::DiscTitles chosen = Metadata::JoinTitles(Local, Result, {}, wanted);
    if (!chosen.ReleaseError.empty() || chosen.Releases.empty())
        return false;
    Wanted = wanted;
    Current = std::move(chosen);
    CoverNote.clear();
    StartCover();
    return true;
}
