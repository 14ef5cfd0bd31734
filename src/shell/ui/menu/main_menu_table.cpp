#include "shell/ui/menu/main_menu_table.h"

namespace astrelon {

namespace {

TMenuEntry I(const char* name, const char* caption, unsigned flags = 0, QKeySequence key = {}, int tag = 0) {
  return {QString::fromLatin1(name), QString::fromUtf8(caption), key, tag, flags, {}};
}
// An item that opens the shared filter dialog: its tag is the filter function.
TMenuEntry F(const char* name, const char* caption, int function, unsigned flags = 0, QKeySequence key = {}) {
  return I(name, caption, flags, key, function);
}
TMenuEntry Sep(unsigned flags = 0) { return {{}, {}, {}, 0, mfSeparator | flags, {}}; }
TMenuEntry Sub(const char* name, const char* caption, std::vector<TMenuEntry> items, unsigned flags = 0) {
  TMenuEntry e = I(name, caption, flags);
  e.Items = std::move(items);
  return e;
}

constexpr unsigned H = mfUnlockable;

std::vector<TMenuEntry> BuildTable() {
  std::vector<TMenuEntry> menus;
  menus.push_back(Sub("File1", "&Datei", {
      I("FileOpenItem", "Öff&nen", 0, QKeySequence(Qt::Key_F3)),
      I("FileCloseItem", "S&chließen"),
      I("FileSaveAsItem", "Speichern &unter...", 0, QKeySequence(Qt::Key_F2)),
      Sub("Import1", "&Import", {
          I("IT8FarbtafelD501", "IT8 Farbtafel (D&50)"),
          I("IT8FarbtafelD651", "IT8 Farbtafel (D&65)"),
      }),
      Sep(),
      I("Batchprocessing1", "&Stapel Bearbeitung", 0, QKeySequence(Qt::Key_F5)),
      I("Masterdarkflaterstellen1", "Masterdark/-flat erstellen"),
      Sep(H),
      I("KTBildRegistrierung1", "I&F Bildregistrierung", H),
      I("LetzteFunktionen1", "Letzte Funktionen", 0, QKeySequence(Qt::Key_F4)),
      Sep(),
      I("FileExitItem", "&Beenden"),
      I("nurfrKeyShortcur1", "JPEG Qualität", mfShortcutOnly, QKeySequence(Qt::CTRL | Qt::Key_J)),
  }));
  menus.push_back(Sub("Edit1", "&Bearbeiten", {
      I("Strpixelausblenden1", "Störp&ixel entfernen", H),
      I("Bildgrendern1", "Bildgröße ä&ndern"),
      I("Erweitern1", "R&and erweitern"),
      Sub("Bildgeometrie1", "Bild&geometrie", {
          I("Ausschneiden1", "&Ausschneiden"),
          I("Bildrotieren1", "Bild &rotieren"),
          I("BildrotierenmitHilfslinie1", "Bild rotieren mit &Hilfslinie"),
          I("Perspektivekorrigieren1", "&Perspektive korrigieren"),
          I("Kissenentzerrung1", "Bildfeld &Entzerrung"),
          Sep(),
          I("Bildgrex2smart31", "Bildgröße x2 hi-f tri"),
          I("Bildgrex2hiftriBackpropagation1", "Bildgröße x2 hi-f tri Backpropagation"),
          I("Bildgrx2NN1", "Bildgröße x2 Neuronales Netzwerk"),
          I("Bildgrex2hiffine1", "Bildgröße x2 hi-f sinc", H),
          I("Bildgrex2triangulation1", "Bildgröße x2 triangulation", H),
          I("Bildgrex2spline1", "Bildgröße x2 Nedi", H),
          I("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan", H),
          I("Bildgrex2FFT1", "Bildgröße x2 FFT", H),
          I("Bildgrex2NNDirektwahl1", "Bildgröße x2 NN Direktwahl", mfDynamic),
          I("Bildverschieben1", "Bild verschieben"),
          I("Bildgrex2triangulation21", "Bildgröße x2 triangulation2"),
          I("Bildgrex2NeuronalesNetzwerk9outs1", "Bildgröße x2 Neuronales Netzwerk 9outs", H),
      }),
      Sep(),
      Sub("Farbfunktionen1", "Far&bfunktionen", {
          I("RGBzu3swBilder1", "Farb-Bild in 3 s/w Bilder aufteilen"),
          I("RGBBildnachswwandeln1", "Farb-Bild in s/w umwandeln"),
          I("RGBBildinswumwandelnLuminanz1", "Farb-Bild in s/w umwandeln (Luminanz)"),
          I("Farbkorrektur1", "Farbkorrektur"),
          F("Farbsttingungeinstellen1", "Farbsättigung einstellen", 7),
          I("CIELABHelligkeitKontrast1", "CIELAB Helligkeit+Kontrast"),
          F("Farbrauschenfiltern1", "Farbrauschen filtern", 12),
          F("FarbhfeumSterneverringern1", "Farbhöfe um Sterne verringern", 18),
          I("Farbkantenentfernen1", "&Farbkanten entfernen"),
          I("Farbenzurechtrcken1", "Farblayer zurechtrücken"),
          I("KameraRAWFarbennachRGB1", "Kamera RAW-Farben nach RGB"),
          I("BildvonXYZnachRGBwandeln1", "Farbraum von XYZ nach RGB", H),
          I("RGBzuBayerPattern1", "&RGB zu Bayer-Pattern", H),
      }),
      Sep(),
      Sub("Video1", "&Video", {
          I("InHalbbilderaufteilen1", "In Halbbilder &aufteilen, Zwischenwerte interpolieren"),
          I("i1", "In Halbbilder aufteilen, &halbe Höhe"),
          F("Deinterlace1", "&Deinterlace", 13),
          F("Zeilengleichhell1", "&Zeilen gleichhell", 15, 0, QKeySequence(Qt::CTRL | Qt::Key_Z)),
          F("Strichspuraufnahmezurckrechnen1", "&Strichspuraufnahme zurückrechnen", 21),
      }),
      Sub("Gltten1", "G&lätten", {
          F("Gaussgltten1", "&Gauss glätten", 5),
          F("MedianFilter1", "&Rauschfilter", 4),
          F("NTdenoise1", "NLM Rauschfilter", 20, H),
          F("Medianfilter2", "&Medianfilter", 14),
          I("WaveletFilter1", "Wavelet Rauschfilter"),
          F("Sternradiusverkleinern1", "S&ternradius verkleinern", 8),
          I("JPGArtefaktereduzieren1", "JPG Artefakte reduzieren", H),
          I("Fehlpixelgltten1", "&Fehlpixel glätten"),
          I("Automatischer2DFFTStrfilter1", "Automatischer 2D-FFT Störfilter"),
          I("Automatischer1DFFTStrfilter1", "Automatischer 1D-FFT Störfilter"),
      }),
      Sub("Schrfen1", "&Schärfen", {
          F("Gaussschrfen1", "&Gauss schärfen", 3),
          F("UnscharfeMaskierung1", "&Unscharfe Maskierung", 6),
          I("IterativesPSFschrfennichtlinear1", "Iteratives &PSF-schärfen"),
          F("IterativesGaussschrfen1", "&Iteratives Gauss schärfen", 10),
          I("DDP1", "&DDP"),
          I("LarsonSekaninaFilter1", "&Larson-Sekanina Filter"),
          F("Unsmear1", "U&nsmear", 1),
      }),
      Sub("Ebnen1", "&Ebnen", {
          F("Hintergrundebnen1", "&Hintergrund ebnen", 2),
          I("HintergrundebnenNebel1", "Hintergrund ebnen &Nebel"),
          I("HintergrundebnenSterne1", "Hintergrund ebnen &Sterne"),
          I("HintergrundebnenSterne21", "Hintergrund ebnen &variabel"),
          I("HintergrundGradientebnenautomatisch1", "Hintergrund Gradient ebnen &automatisch"),
          I("Sonnenoberflcheebnen1", "Sonnen&oberfläche ebnen"),
          I("Hintergrundebnennichtlinearautomatisch1", "Hintergrund ebnen nichtlinear automatisch", H),
      }),
      Sub("CCD1", "&CCD", {
          I("FarbCCDzuRGBBild1", "Farb-&CCD zu RGB Bild"),
          I("Strpixelentfernen1", "Störpixel &entfernen +"),
          I("RAWFormaterstellen1", "RAW Format erstellen"),
      }),
      Sub("Pixelmathematik1", "&Pixelmathematik", {
          I("Wertaddieren1", "Wert &addieren"),
          I("Wertmultiplizieren1", "Wert &multiplizieren"),
          I("Wertdividieren1", "Wert dividieren"),
          I("UntereGrenzefestlegen1", "Wertebereich &unten begrenzen"),
          I("ObereGrenzefestlegen1", "Wertebereich &oben begrenzen"),
          Sep(),
          I("Wurzelziehen1", "&Wurzel ziehen"),
          I("Wertequadrieren1", "Werte &quadrieren"),
          I("Werteaufrunden1", "Werte run&den"),
          I("Logarithmieren1", "&Logarithmieren"),
          I("Pixelwertenheran0bringen1", "Pixelwerte nach 0 verschieben", H),
      }),
      Sub("Spezial1", "Spe&zial", {
          I("Frequenzfilter1", "&1D Frequenzfilter"),
          I("N2DFrequenzfilter1", "&2D Frequenzfilter"),
          I("SobelFunktionRanderkennung1", "S&obel-Funktion (Randerkennung)"),
          I("CannesRanderkennung1", "&Cross Randerkennung"),
          I("FrequenzganganeinanderesBildanpassen1", "Frequenzgang an ein anderes Bild anpassen", H),
          I("Tiefpass21", "Tiefpass2", H),
          I("VSchrfung1", "Verschiebungs-schärfen", H),
          I("BildabhngigesVSchrfen1", "Bildabhängiges V-Schärfen", H),
          I("CFilter1", "CFilter", H),
          I("extAAFilter1", "Text AA-Filter", H),
          I("Rauschanteilbestimmen1", "Rauschanteil bestimmen", H),
      }),
      Sub("FFT1", "&FFT", {
          I("Bild2DFFT1", "Bild -> 2D FFT", H),
          I("N2DFFTBild1", "2D FFT -> Bild ", H),
          I("N2DFFTWirkspektrum1", "Real+Imaginär -> Amplitude+Phase", H),
          I("N2DFFTAmplitudePhasenachkomplex1", "Amplitude+Phase -> Real+Imaginär", H),
          I("randanpassenRadix1", "randanpassenRadix"),
          I("N3DDarstellung1", "3D-Darstellung", H),
          I("FFTMorph1", "FFT Morph", H),
          I("Convolution1", "Mit PSF falten (&Convolution)"),
          I("FFTpsfschaerfen1", "&Entfalten (Deconvolution)", H),
      }),
      Sub("WeitereFunktionen1", "&Weitere Funktionen", {
          I("Timestampladen1", "Timestamp laden"),
          I("PSFbildmitgauverteilunggenerieren1", "PSFbild mit Gaußverteilung generieren"),
          I("Multifokus1", "Multifokus", H),
          I("biasbildmachen1", "Ein Biasbild vom Masterdark generieren"),
          I("EinBiasbildvomMasterdarkgenerierenBayer1", "Ein Biasbild vom Masterdark generieren - Bayer"),
          I("RauschanteilbestimmenBayer1", "Rauschanteil bestimmen Bayer", H),
          I("BayerMasterflatnormalisieren1", "Bayer Masterflat normalisieren"),
          I("TesteVerschiebungsfindung1", "Teste Verschiebungsfindung", H),
          I("esteVerschiebungsfindung1", "Teste Mag Verteilung", H),
          I("RadiusisoFunktion1", "Radius iso Funktion", H),
          I("Filtercoeffberechnen1", "Filtercoeff berechnen", H),
          I("dsincvschrfenbesteMSEermitteln1", "upscale+vschärfen beste MSE ermitteln", H),
      }),
      Sub("NeuronaleNetzwerke1", "Ne&uronale Netzwerke", {
          I("UniversellerFilterNeuronalesNetzwerk1", "Universeller Filter (Neuronales Netzwerk)"),
          I("EigeneNNFilter1", "Eigene NN-Filter", mfDynamic),
          I("UniversellenFiltertrainieren1", "Universellen Filter trainieren"),
          I("trainNNbp1", "Neuronales Netzwerk trainieren"),
          I("trainNNbp9outs1", "Neuronales Netzwerk trainieren 9outs", H),
          I("DebayerFiltertrainieren1", "Debayer Filter trainieren"),
      }),
      Sep(),
      I("BildnachRGBerweitern1", "Bild nac&h RGB erweitern"),
      I("blinken1", "Bilder blin&ken"),
      I("BildliniealsDiagrammanzeigen1", "Pixellinie als &Diagramm anzeigen"),
      I("TextRahmeneinfgen1", "&Text+Rahmen einfügen"),
      I("objectRauschenhinzufgen11TMenuItem1", "&Rauschen hinzufügen", H),
  }));
  menus.push_back(Sub("BilderKombinieren1", "Bilder &Kombinieren", {
      I("Bildaddieren1", "Bild addieren (mit Verschiebung)"),
      I("Bildsubtrahieren1", "Bild sub&trahieren (mit Verschiebung)"),
      I("HellBilddividieren1", "(Hell-)Bild &dividieren"),
      I("Hellbilddividierenautomatischskaliert1", "Hellbild dividieren - automatisch skaliert"),
      I("Bildmultiplizieren1", "Bild multiplizieren"),
      Sub("Dunkelbildsubtraktion1", "Dunkelbildsubtraktion", {
          I("Bildsubtraktionnormal1", "Bildsubtraktion normal", 0, {}, 0),
          I("mitHotpixelkorrektur1", "Bildsubtraktion mit Hotpixelkorrektur", 0, QKeySequence(Qt::CTRL | Qt::Key_F9), 1),
          I("mitTemperaturausgleich1", "Bildsubtraktion mit Temperaturausgleich", 0, {}, 2),
          I("mitTemperaturausgleichundHotpixelkorrektur1",
            "Bildsubtraktion mit Temperaturausgleich und Hotpixelkorrektur", 0, {}, 3),
      }),
      I("Minimum1", "Minimum zweier Bilder"),
      I("Maximum1", "Maximum zweier Bilder"),
      I("BildaddierenmitmanuellerVerschiebung1", "Bild kombinieren mit manueller Verschiebung"),
      I("Mosaik1", "Mosaik machen"),
      I("LRGBBildkombinieren1", "L+RGB Bild kombinieren auto. skaliert"),
      I("LRGBBildkombinierennichtskaliert1", "L+RGB Bild kombinieren nicht skaliert"),
      I("mitunterschiedlicherBelichtungszeitkombinieren1", "Bild mit unterschiedlicher Belichtungszeit kombinieren"),
      I("N3swBilderzuRGB1", "&3 s/w Bilder zu RGB Bild"),
      I("N3swBilderzuYUVBild1", "3 s/w Bilder zu YUV Bild"),
      I("Bildabbilden1", "Bild an ein Zweites anpassen (verschieben)"),
      I("Bildmaskieren1", "Bild maskieren"),
  }));
  menus.push_back(Sub("Optionen1", "&Einstellungen", {
      I("Einstellungen1", "&Einstellungen..."),
  }));
  menus.push_back(Sub("Window1", "&Fenster", {
      I("WindowCascadeItem", "Überla&ppend"),
      I("WindowTileItem", "&Nebeneinander"),
      I("bereinander1", "&Übereinander"),
      I("WindowArrangeItem", "&Symbole anordnen"),
      I("WindowMinimizeItem", "&Alle verkleinern"),
      I("AufBildgre1", "Auf &Bildgröße"),
      I("AlleaufBildgre1", "A&lle auf Bildgröße", 0, QKeySequence(Qt::CTRL | Qt::Key_S)),
      Sep(),
      I("Histogramm1", "&Histogramm", mfCheckable),
      I("FitsHeader1", "&Fits-Header", mfCheckable),
      I("InfoPanel1", "&Info/Werkzeugleiste", mfCheckable),
  }));
  menus.push_back(Sub("Help1", "&Hilfe", {
      I("ZurBildaddition1", "Zur &Bildaddition"),
      I("ZurBatchBearbeitung1", "Zur B&atch Bearbeitung"),
      I("Tips1", "&Tips"),
      I("KurzanleitungimWeb1", "&Kurzanleitung im Web"),
      Sep(),
      I("HelpAboutItem", "Inf&o"),
  }));
  return menus;
}

}  // namespace

const std::vector<TMenuEntry>& MainMenuTable() {
  static const std::vector<TMenuEntry> table = BuildTable();
  return table;
}

}  // namespace astrelon
