# The application is built as a bundle with the Mac layout, so that every
# question the program asks about its own bundle has a real answer:
#   Dorvane.app/Contents/Info.plist
#   Dorvane.app/Contents/MacOS/Dorvane
#   Dorvane.app/Contents/Resources/...
#   Dorvane.app/Contents/SharedSupport/bin/dorvane   (the command line)
#   Dorvane.app/Contents/Library/LaunchServices/<helper label>

set(DORVANE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/Dorvane.app")
set(DORVANE_BUNDLE_CONTENTS "${DORVANE_BUNDLE_DIR}/Contents")

set(DORVANE_FEEDBACK_EMAIL "support@dorvane.example")
set(DORVANE_VENDOR_PAGE "https://www.dorvane.example/dorvane/")
set(DORVANE_STORE_PAGE "https://apps.apple.com/app/dorvane/id1000000001")
set(DORVANE_MACUPDATE_PAGE "https://www.macupdate.com/app/mac/1000001/dorvane")
set(DORVANE_UPDATE_FEED "https://www.dorvane.example/dorvane/appcast.xml")
set(DORVANE_PROMOTION_PAGE "https://www.dorvane.example/more/")

configure_file("${CMAKE_SOURCE_DIR}/resources/Info.plist.in"
               "${DORVANE_BUNDLE_CONTENTS}/Info.plist" @ONLY)
file(MAKE_DIRECTORY "${DORVANE_BUNDLE_CONTENTS}/Resources")

# The bundle's resources: the damaged-package icon, the documents of the
# documentation window and the shipped copy of the promotion page.
foreach(resource minus.png Promotion.html docs/Credits.md docs/History.md docs/FAQ.md "docs/Read Me.md")
    get_filename_component(name "${resource}" NAME)
    configure_file("${CMAKE_SOURCE_DIR}/resources/${resource}"
                   "${DORVANE_BUNDLE_CONTENTS}/Resources/${name}" COPYONLY)
endforeach()
