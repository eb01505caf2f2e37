# Run by the build of every core library: its sources must not reach a
# widgets or GUI module of Qt. Plain includes (<QWidget>) already fail there,
# since a core library has only Qt Core's include folders; this catches the
# module-qualified form (<QtGui/QColor>) that would still be found.
# Arguments: -DSOURCES=<;-list> -DSTAMP=<file>
set(forbidden "^[ \t]*#[ \t]*include[ \t]*[<\"](QtGui|QtWidgets|QtPrintSupport|QtSvg|QtSvgWidgets|QtCharts|QtOpenGL|QtQuick|QtQml)[/>\"]")
set(found "")
foreach(file ${SOURCES})
  file(STRINGS ${file} lines REGEX "${forbidden}")
  foreach(line ${lines})
    string(APPEND found "\n  ${file}: ${line}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "A library without windows includes a widgets or GUI header:${found}")
endif()
file(TOUCH ${STAMP})
