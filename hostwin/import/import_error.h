// The one error of the Windows importer: a source that cannot be imported, with a message that
// names the source and says what is wrong with it. Nothing has been written when it is thrown.
#ifndef HOSTWIN_IMPORT_IMPORT_ERROR_H
#define HOSTWIN_IMPORT_IMPORT_ERROR_H

#include <stdexcept>
#include <string>

namespace hostwin_import {

class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace hostwin_import

#endif
