#include "UiGallery.h"

#include "PngWriter.h"
#include "ui/SkinRegions.h"

ClientPixels ReadClient(HWND hwnd) {
  ClientPixels shot;
  shot.pixels = png::ReadClient(hwnd, &shot.width, &shot.height);
  return shot;
}

void PumpMessages() {
  MSG message;
  for (int round = 0; round < 3; ++round) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

GalleryWindow::GalleryWindow(ZavuzER* ui) : MWindow(ui) {
  SetBackground(0x333332);
}

GalleryWindow::~GalleryWindow() {
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) delete *it;
  delete ring;
}

bool GalleryWindow::OnEvent(int32_t source, int32_t kind, intptr_t value) {
  if (source == kSourceWindow) {
    if (kind == kWindowSettled) ++settledEvents;
    return true;
  }
  if (source == kSourceHost && kind == 5) {
    EndSession(static_cast<int32_t>(value));
    return true;
  }
  events.push_back(UiEvent{source, kind, value});
  return true;
}

bool GalleryWindow::SetFocusElement(MRegion* element, bool showRing) {
  return MoveFocus(element, showRing, ring);
}

void GalleryWindow::Place(MSkinnedSection* element, int32_t x, int32_t y, int32_t w, int32_t h) {
  SetRectXYWH(element, x, y, w, h);
  AddRootElement(this, element);
  element->Layout();
}

void GalleryWindow::Build() {
  LoadSkinImage(this, &skin161, kSkinSheetMain, 0);
  LoadSkinImage(this, &skin164, kSkinSheetSplash, 0);
  SetClientSize(730, 345);

  const char16_t* labels[4] = {u"INSTALL", u"HOVER", u"PRESSED", u"DISABLED"};
  for (int i = 0; i < 4; ++i) {
    buttons[i] = Own(CreateButton(this, &skin161, MString(labels[i])));
    buttons[i]->id = 100 + i;
    Place(buttons[i], 10 + 150 * i, 10, 140, 33);
  }
  // The looks the handler would show, set directly for the screenshot.
  buttons[1]->SetSpec(buttons[1]->LookFor(kOver));
  buttons[1]->Layout();
  buttons[2]->SetSpec(buttons[2]->LookFor(kPressedOver));
  buttons[2]->Layout();
  SetButtonEnabled(buttons[3], false);
  for (int i = 0; i < 2; ++i) {
    // Hover looks of both toggles, for the screenshot.
    MCheckboxButton* hoverBox = Own(CreateCheckBox(this, &skin161, i == 1));
    MRadioButton* hoverRadio = Own(CreateRadioButton(this, &skin161, i == 1, i, nullptr));
    for (MCheckboxButton* toggle : {static_cast<MCheckboxButton*>(hoverRadio), hoverBox}) {
      toggle->SetSpec(toggle->LookFor(kOver));
      Place(toggle, (toggle == hoverBox ? 130 : 190) + 25 * i, 60, 15, 15);
    }
    boxes[i] = Own(CreateCheckBox(this, &skin161, i == 1));
    boxes[i]->id = 110 + i;
    Place(boxes[i], 10 + 25 * i, 60, 15, 15);
    radios[i] = Own(CreateRadioButton(this, &skin161, i == 1, i, &radioGroup));
    radios[i]->id = 120 + i;
    Place(radios[i], 70 + 25 * i, 60, 15, 15);
  }

  paragraph = Own(new MTextArea(this, 16, true, false));
  paragraph->SetText(
      MString(u"The installer <strong>needs</strong> your attention.<br>Read the license "
              u"<a href='glinttest:license'>here</a> or open the <ncp>settings</ncp>."
              u"<li>first item<li>second item</ul>And more text after the list."));
  Place(paragraph, 10, 90, 400, 110);

  trackSpec = MakeSliceSpec(&skin161, kProgressTrackSlices[0], kProgressTrackSlices[1],
                            kProgressTrackSlices[2]);
  fillSpec = MakeSliceSpec(&skin161, kProgressFillSlices[0], kProgressFillSlices[1],
                           kProgressFillSlices[2]);
  for (int i = 0; i < 3; ++i) {  // 0, 50, 100 %
    MProgressBar* bar = Own(new MProgressBar(this, &trackSpec, &fillSpec));
    bar->SetPercentage(50 * i);
    Place(bar, 420, 90 + 40 * i, 300, 33);
  }

  MSkinnedSection* splash = Own(new MSkinnedSection);
  splash->SetImage(&skin164);
  splash->SetMode(DrawMode::OpaqueCopy);
  splash->source = kSplashPicture;
  Place(splash, 10, 210, 400, 130);

  MSkinnedSection* logo = Own(new MSkinnedSection);
  logo->SetImage(&skin161);
  logo->source = kMakerLogo;
  Place(logo, 660, 220, 47, 71);

  tooltip = Own(new MTooltipArea(this, Handle()));
  Place(tooltip, 660, 220, 47, 71);
  tooltip->SetTipText(MString(u"Arvex Glint Player"));

  ringSpec = MakeNineSliceSpec(&skin161, kFocusRing.x, kFocusRing.y, kFocusRing.columns,
                               kFocusRing.rows, DrawMode::AlphaBlend);
  ring = new MScale9Section(this, &ringSpec);
  Place(ring, 230, 192, 25, 25);
  SetVisible(ring, false);
}
