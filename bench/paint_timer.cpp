// Starts a program and reports when its window of the given size is first painted:
// mapped on the X server and showing its white background at (5, 5).
//   paint_timer WIDTH HEIGHT -- program [args...]
// Prints one JSON line: {"pid": ..., "exec_epoch": ..., "painted_ms": ...}; the program
// is left running for the caller to stop.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

template <typename T>
struct FreeDeleter {
    void operator()(T *p) const noexcept { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

bool isWhiteAt(xcb_connection_t *x, xcb_window_t window)
{
    Reply<xcb_get_image_reply_t> image(
        xcb_get_image_reply(x, xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 5, 5, 1, 1, ~0U), nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < 3)
        return false;
    const std::uint8_t *pixel = xcb_get_image_data(image.get());
    return pixel[0] == 0xFF && pixel[1] == 0xFF && pixel[2] == 0xFF;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fprintf(stderr, "usage: paint_timer WIDTH HEIGHT -- program [args...]\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x) != 0) {
        std::fprintf(stderr, "paint_timer: no X display\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    const double epoch = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // The program must not hold our output open after we have reported.
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execvp(argv[4], argv + 4);
        _exit(127);
    }

    xcb_window_t target = XCB_NONE;
    const auto deadline = start + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (target != XCB_NONE) {
            if (isWhiteAt(x, target))
                break;
            usleep(200);
            continue;
        }
        pollfd pfd{xcb_get_file_descriptor(x), POLLIN, 0};
        poll(&pfd, 1, 50);
        while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                Reply<xcb_get_geometry_reply_t> geometry(
                    xcb_get_geometry_reply(x, xcb_get_geometry(x, map->window), nullptr));
                if (geometry && geometry->width == width && geometry->height == height)
                    target = map->window;
            }
            std::free(event);
        }
    }
    const double painted = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"pid\": %d, \"exec_epoch\": %.6f, \"painted_ms\": %.3f, \"found\": %s}\n", child, epoch, painted,
                target != XCB_NONE ? "true" : "false");
    std::fflush(stdout);
    xcb_disconnect(x);
    return 0;
}
