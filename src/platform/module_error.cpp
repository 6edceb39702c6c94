#include "platform/module_error.h"

#include <cstdio>
#include <exception>
#include <new>

UserMessage currentExceptionMessage()
{
    try {
        throw;
    } catch (const ModuleError &e) {
        return {e.what(), e.outside()};
    } catch (const std::bad_alloc &) {
        return {"Mémoire insuffisante pour terminer l'opération.", {}};
    } catch (const std::exception &e) {
        return {e.what(), {e.what()}}; // a library's words
    } catch (...) {
        return {"Erreur inattendue.", {}};
    }
}

void printForHost(const std::string &text)
{
    std::fprintf(stderr, "Module_Valmora: %s\n", text.c_str());
    std::fflush(stderr);
}
