#include "ui/job_saving.h"

#include "convert/job_movie.h"
#include "convert/movie_job_file.h"
#include "ui/desktop_session.h"

namespace tessaly {

MovieJob DesktopJob(const DesktopSession& session, const std::string& output) {
    const std::string moviePath = session.source.VideoPath();
    if (moviePath.empty()) return MovieJob{};
    // The same builder as the command line's, from the settings the next
    // Convert would take; the desktop converts through stills, at the
    // quality its "Output compression" list shows.
    MovieJob job = JobFromState(session.app.settings.Copy(), session.app.run, moviePath, {output});
    job.outputs.stills = session.app.run.tempFormat.load();
    job.outputs.quality = session.ui.compressionLevel.load();
    job.movie = ReadJobMovie(moviePath);
    job.geometry.frameW = job.movie.width;
    job.geometry.frameH = job.movie.height;
    return job;
}

std::string SaveDesktopJob(const DesktopSession& session, const std::string& jobPath, const std::string& output) {
    if (session.source.VideoPath().empty()) return "No movie is loaded.";
    return WriteJobFile(DesktopJob(session, output), jobPath).reason();
}

}  // namespace tessaly
