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
    const AppSettings settings = session.app.settings.Copy();
    MovieJob job = JobFromState(settings, session.app.run, moviePath, {output});
    // Two eyes: as found and aligned in this movie; not found yet, the
    // choice without windows, which the job's check refuses.
    if (const std::optional<JobStereo> eyes = session.CurrentEyes()) {
        job.stereo = *eyes;
    } else if (settings.STEREO != 0) {
        job.stereo.settings = StereoChoiceOf(settings);
    }
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
