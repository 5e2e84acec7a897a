#include "ui/TitleSearch.h"

#include "cdaccess/CDRIP.h"

long TTitleSearch::TimeoutSeconds = 10;

TTitleSearch::TTitleSearch(QObject* context) : Context(context) {}

TTitleSearch::~TTitleSearch() {
    Alive.reset(); // answers still queued for the window are dropped
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
    if (OnLookup)
        OnLookup(Current, result);
}

bool TTitleSearch::ChooseRelease(const std::string& wanted) {
    Metadata::DiscTitles chosen = Metadata::JoinTitles(Local, Result, {}, wanted);
    if (!chosen.ReleaseError.empty() || chosen.Releases.empty())
        return false;
    Wanted = wanted;
    Current = std::move(chosen);
    return true;
}
